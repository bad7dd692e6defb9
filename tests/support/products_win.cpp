#include "tests/support/products_win.h"

#include <windows.h>

namespace mirrow::testing {

std::wstring windows_path_of(std::string_view linux_path) {
  std::wstring path = L"Z:";
  for (const char c : linux_path) path.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return path;
}

std::wstring beside_this_program(std::wstring_view file_name) {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  path.resize(path.find_last_of(L'\\') + 1);
  return path + std::wstring(file_name);
}

// The build hands in each product's path on the build machine; under Wine
// that file system is drive Z:.
std::wstring vantrel_dll_path() { return windows_path_of(MIRROW_VANTREL_DLL); }
std::wstring telvyn_dll_path() { return windows_path_of(MIRROW_TELVYN_DLL); }
std::wstring freeze_guard_path() { return windows_path_of(MIRROW_FREEZE_GUARD_EXE); }
std::wstring mirrowctl_path() { return windows_path_of(MIRROW_MIRROWCTL_EXE); }

}  // namespace mirrow::testing
