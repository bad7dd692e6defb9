#pragma once
// A FILETIME as the one 64-bit count of 100-ns units it stands for.
#include <windows.h>

#include <cstdint>

namespace mirrow {

inline std::uint64_t filetime_value(const FILETIME& time) noexcept {
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace mirrow
