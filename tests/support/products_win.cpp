#include "support/products_win.h"

#include <windows.h>

namespace mirrow::testing {

std::wstring windows_path_of(std::string_view linux_path) {
  std::wstring path = L"Z:";
  for (const char c : linux_path) path.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return path;
}

std::wstring vantrel_dll_path() { return beside_this_program(L"Vantrel.dll"); }
std::wstring telvyn_dll_path() { return beside_this_program(L"Telvyn.dll"); }
std::wstring freeze_guard_path() { return beside_this_program(L"FreezeGuard.exe"); }
std::wstring mirrowctl_path() { return beside_this_program(L"mirrowctl.exe"); }

}  // namespace mirrow::testing
