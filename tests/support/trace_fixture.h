#pragma once
// The recorded trace a test was built with (mirrow_trace_fixture in
// tests/CMakeLists.txt): natively at its path in the build tree, on Windows
// beside the test program. Read whole into memory.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifdef _WIN32
#include "support/program_folder_win.h"
#endif

namespace mirrow::testing {

inline std::vector<std::uint8_t> read_whole_file(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline std::filesystem::path trace_fixture_path() {
#ifdef _WIN32
  return std::filesystem::path(beside_this_program(L"" MIRROW_TRACE_FIXTURE));
#else
  return std::filesystem::path(MIRROW_TRACE_FIXTURE);
#endif
}

inline const std::vector<std::uint8_t>& trace_fixture() {
  static const std::vector<std::uint8_t> bytes = read_whole_file(trace_fixture_path());
  return bytes;
}

}  // namespace mirrow::testing
