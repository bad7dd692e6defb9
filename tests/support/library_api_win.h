#pragma once
// Vantrel.dll and Telvyn.dll loaded from this build with every export bound
// by name, exactly as a host does. The export lists are the host's own, so a
// new export is bound here as soon as the host knows it.
#include <windows.h>

#include <stdexcept>
#include <string>

#include "host/libraries_win.h"
#include "support/products_win.h"

namespace mirrow::testing {

// Loads the library at `path`; throws when it cannot.
inline HMODULE load_library_at(const std::wstring& path) {
  const HMODULE module = LoadLibraryW(path.c_str());
  if (module == nullptr) throw std::runtime_error("cannot load the library, error " + std::to_string(GetLastError()));
  return module;
}

// Binds `slot` to the export `name`; throws when the library lacks it.
template <typename F>
void bind_export(HMODULE module, F& slot, const char* name) {
  slot = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  if (slot == nullptr) throw std::runtime_error(std::string("missing export ") + name);
}

struct VantrelApi : host::VantrelLibrary {
  explicit VantrelApi(const std::wstring& path = vantrel_dll_path()) {
    module.reset(load_library_at(path));
#define HOST_EXPORT(name) bind_export(module.get(), this->name, #name);
#include "host/vantrel_exports.inc"
#undef HOST_EXPORT
  }
};

struct TelvynApi : host::TelvynLibrary {
  explicit TelvynApi(const std::wstring& path = telvyn_dll_path()) {
    module.reset(load_library_at(path));
#define HOST_EXPORT(name) bind_export(module.get(), this->name, #name);
#include "host/telvyn_exports.inc"
#undef HOST_EXPORT
  }

  // Unloads the library now; false when FreeLibrary fails.
  bool unload() { return FreeLibrary(module.release()) != FALSE; }
};

}  // namespace mirrow::testing
