#pragma once
// Conversions between Windows file times (100-ns units since 1601-01-01 UTC)
// and Unix-epoch seconds.
#include <cstdint>

namespace mirrow {

constexpr std::int64_t filetime_unix_epoch = 116444736000000000LL;
constexpr std::int64_t filetime_units_per_second = 10000000LL;

// Whole seconds and remainder are split before the division so that the
// seven decimal digits of the file time survive in the double: the value is
// s + r / 1e7 with s truncated toward zero and r carrying the sign of the
// difference (times before 1970 are negative in both parts).
double unix_seconds_from_filetime(std::int64_t filetime);

}  // namespace mirrow
