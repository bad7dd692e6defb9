#pragma once
// Figures as people read them: sizes in binary units, counts with thousands
// separators, durations, and clock times.
#include <cstdint>
#include <string>

namespace mirrow::host {

// "0 B", "1023 B", "1.0 KiB", "12.3 MiB", "1.5 TiB"; one decimal from KiB on.
std::string human_bytes(std::uint64_t bytes);

// "1,234,567"
std::string grouped_count(std::uint64_t count);

// "0.4 s", "59.9 s", "1 min 05 s", "2 h 03 min"
std::string human_duration(std::uint64_t milliseconds);

// "HH:MM:SS" of a Unix time shifted by the local offset from UTC; times
// outside the representable range print as "--:--:--".
std::string clock_time(double unix_seconds, std::int64_t utc_offset_seconds);

// "YYYY-MM-DD HH:MM:SS" of a Windows file time (100-ns units since 1601)
// shifted by the local offset from UTC.
std::string date_time_from_filetime(std::uint64_t filetime, std::int64_t utc_offset_seconds);

}  // namespace mirrow::host
