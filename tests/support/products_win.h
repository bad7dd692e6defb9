#pragma once
// Where the tests and the benchmarks find the products of this build:
// beside themselves, where the build copies them (and where the installed
// test folder holds them), so that no program carries a path of the machine
// it was built on.
#include <string>
#include <string_view>

#include "support/program_folder_win.h"

namespace mirrow::testing {

// A Linux path as Wine shows it under drive Z:.
std::wstring windows_path_of(std::string_view linux_path);

std::wstring vantrel_dll_path();
std::wstring telvyn_dll_path();
std::wstring freeze_guard_path();
std::wstring mirrowctl_path();

}  // namespace mirrow::testing
