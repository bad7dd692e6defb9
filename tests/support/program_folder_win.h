#pragma once
// The folder of the running test program. Every product and helper program
// a test starts or loads lies beside it, in the build tree as in the
// installed test folder, so no test carries a path of the machine it was
// built on.
#include <windows.h>

#include <string>
#include <string_view>

namespace mirrow::testing {

// The folder holding this program, with its trailing back-slash.
inline std::wstring program_folder() {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  path.resize(path.find_last_of(L'\\') + 1);
  return path;
}

// A file in that folder.
inline std::wstring beside_this_program(std::wstring_view file_name) {
  return program_folder() + std::wstring(file_name);
}

}  // namespace mirrow::testing
