#pragma once
// WMI date-times ("yyyymmddHHMMSS.mmmmmmsUUU", local time with the offset
// from UTC in minutes) as UTC file times, 100-ns units since 1601-01-01.
#include <cstdint>
#include <string_view>

namespace mirrow::inspector {

// 0 when the text is shorter than 25 units, contains a '*' (a wildcard
// field), names no valid calendar time, or lands before 1601.
std::uint64_t parse_cim_datetime(std::u16string_view text);

}  // namespace mirrow::inspector
