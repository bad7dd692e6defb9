#include "common/file_time.h"

namespace mirrow {

double unix_seconds_from_filetime(std::int64_t filetime) {
  // Subtracting in unsigned arithmetic keeps the extreme file times defined;
  // the difference of any two signed 64-bit values fits after the cast back
  // except at the edges, where it wraps the same way on every platform.
  const std::int64_t d = static_cast<std::int64_t>(static_cast<std::uint64_t>(filetime) -
                                                   static_cast<std::uint64_t>(filetime_unix_epoch));
  const std::int64_t whole = d / filetime_units_per_second;
  const std::int64_t rest = d - whole * filetime_units_per_second;
  return static_cast<double>(whole) + static_cast<double>(rest) / 10000000.0;
}

}  // namespace mirrow
