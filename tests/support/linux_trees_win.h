#pragma once
// The trees that tests/support/with_linux_trees.sh builds on the Linux side,
// where Wine cannot build them (symbolic links, names that differ only in
// case). The driver passes their Windows paths on the command line.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <string_view>

namespace mirrow::testing {

// The value of --linked-tree= or --case-tree= on this program's command
// line; empty when the program runs without the driver.
inline std::wstring linux_tree(std::wstring_view option) {
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr) return {};
  std::wstring value;
  for (int i = 1; i < count; ++i) {
    const std::wstring_view argument = arguments[i];
    if (argument.starts_with(option)) value = argument.substr(option.size());
  }
  LocalFree(arguments);
  return value;
}

inline std::wstring linked_tree() { return linux_tree(L"--linked-tree="); }
inline std::wstring case_tree() { return linux_tree(L"--case-tree="); }

}  // namespace mirrow::testing
