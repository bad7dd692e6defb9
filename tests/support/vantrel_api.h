#pragma once
// Loads Vantrel.dll and binds every export by name, exactly as a host does.
#include <windows.h>

#include <stdexcept>
#include <string>

#include "tests/support/program_folder_win.h"
#include "vantrel.h"

namespace mirrow::testing {

struct VantrelApi {
  HMODULE module = nullptr;
#define VANTREL_EXPORT(name) decltype(&::name) name = nullptr;
#include "tests/support/vantrel_exports.inc"
#undef VANTREL_EXPORT

  explicit VantrelApi(const std::wstring& dll_path) {
    module = LoadLibraryW(dll_path.c_str());
    if (module == nullptr) throw std::runtime_error("cannot load Vantrel.dll beside the test program");
#define VANTREL_EXPORT(name) bind(name, #name);
#include "tests/support/vantrel_exports.inc"
#undef VANTREL_EXPORT
  }
  ~VantrelApi() {
    if (module != nullptr) FreeLibrary(module);
  }
  VantrelApi(const VantrelApi&) = delete;
  VantrelApi& operator=(const VantrelApi&) = delete;

 private:
  template <typename F>
  void bind(F& slot, const char* name) {
    slot = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (slot == nullptr) throw std::runtime_error(std::string("missing export ") + name);
  }
};

// The library beside the test program, loaded once per test program.
inline VantrelApi& vantrel() {
  static VantrelApi api(beside_this_program(L"Vantrel.dll"));
  return api;
}

// One engine for the length of a test, destroyed as a host would.
class Engine {
 public:
  Engine() : handle_(vantrel().vt_create()) {}
  ~Engine() { vantrel().vt_destroy(handle_); }
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;
  vt_engine* get() const { return handle_; }
  operator vt_engine*() const { return handle_; }

 private:
  vt_engine* handle_;
};

}  // namespace mirrow::testing
