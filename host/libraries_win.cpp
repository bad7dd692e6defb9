#include "host/libraries_win.h"

#include <windows.h>

#include "common/utf16.h"
#include "host/console_win.h"
#include "host/version_report.h"

namespace mirrow::host {
namespace {

// Loads `file_name` from mirrowctl's folder by its full path, so that no
// other copy on the search path is picked up.
bool load_beside_program(std::u16string_view file_name, UniqueModule& module, std::string& problem) {
  const std::u16string path = beside_program(file_name);
  module.reset(LoadLibraryW(wide(path.c_str())));
  if (module) return true;
  problem = "cannot load " + utf8_from_utf16(path) + " (error " + std::to_string(GetLastError()) +
            "); " + utf8_from_utf16(file_name) + " must lie beside mirrowctl.exe";
  return false;
}

template <typename F>
bool bind(HMODULE module, F& slot, const char* name, std::u16string_view file_name, std::string& problem) {
  slot = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  if (slot != nullptr) return true;
  if (problem.empty()) problem = utf8_from_utf16(file_name) + " has no export " + name + "; it is incomplete or too old";
  return false;
}

// Loads the library and binds every export that `bind_all` names; null with
// `problem` set when the file or an export is missing.
template <typename Library, typename BindAll>
std::unique_ptr<Library> load_library(std::u16string_view file_name, std::string& problem, BindAll bind_all) {
  auto library = std::make_unique<Library>();
  if (!load_beside_program(file_name, library->module, problem)) return nullptr;
  if (!bind_all(*library)) return nullptr;
  return library;
}

}  // namespace

std::unique_ptr<VantrelLibrary> load_vantrel(std::string& problem) {
  auto library = load_library<VantrelLibrary>(u"Vantrel.dll", problem, [&](VantrelLibrary& vantrel) {
    bool bound = true;
#define HOST_EXPORT(name) bound = bind(vantrel.module.get(), vantrel.name, #name, u"Vantrel.dll", problem) && bound;
#include "host/vantrel_exports.inc"
#undef HOST_EXPORT
    return bound;
  });
  if (library && library->vt_abi() != kVantrelInterface) {
    problem = "Vantrel.dll speaks interface version " + std::to_string(library->vt_abi()) + ", mirrowctl expects " +
              std::to_string(kVantrelInterface);
    return nullptr;
  }
  return library;
}

std::optional<std::uint32_t> vantrel_interface(std::string& problem) {
  UniqueModule module;
  if (!load_beside_program(u"Vantrel.dll", module, problem)) return std::nullopt;
  decltype(&::vt_abi) abi = nullptr;
  if (!bind(module.get(), abi, "vt_abi", u"Vantrel.dll", problem)) return std::nullopt;
  return abi();
}

std::unique_ptr<TelvynLibrary> load_telvyn(std::string& problem) {
  return load_library<TelvynLibrary>(u"Telvyn.dll", problem, [&](TelvynLibrary& telvyn) {
    bool bound = true;
#define HOST_EXPORT(name) bound = bind(telvyn.module.get(), telvyn.name, #name, u"Telvyn.dll", problem) && bound;
#include "host/telvyn_exports.inc"
#undef HOST_EXPORT
    return bound;
  });
}

Statistics engine_statistics(const VantrelLibrary& vantrel, vt_engine* engine) {
  Statistics values{};
  vantrel.vt_stats(engine, values.data(), values.size());
  return values;
}

std::string engine_diagnostics(const VantrelLibrary& vantrel, vt_engine* engine) {
  std::uint64_t length = 0;
  const char* text = vantrel.vt_diagnostics(engine, &length);
  return text == nullptr ? std::string() : std::string(text, length);
}

std::string exclude_all(const VantrelLibrary& vantrel, vt_engine* engine, const std::vector<std::u16string>& paths) {
  for (const auto& exclusion : paths) {
    const std::u16string path = absolute_path(exclusion);
    if (vantrel.vt_exclude(engine, wide(path.c_str())) != 0) return "cannot exclude " + utf8_from_utf16(path);
  }
  return {};
}

}  // namespace mirrow::host
