#pragma once
// Where the tests and the benchmarks find the products of this build, and
// the path conversions they need for it. products_win.cpp is the one place
// that knows where the build puts the products.
#include <string>
#include <string_view>

namespace mirrow::testing {

// A Linux path as Wine shows it under drive Z:.
std::wstring windows_path_of(std::string_view linux_path);

// A file next to the running executable.
std::wstring beside_this_program(std::wstring_view file_name);

std::wstring vantrel_dll_path();
std::wstring telvyn_dll_path();
std::wstring freeze_guard_path();
std::wstring mirrowctl_path();

}  // namespace mirrow::testing
