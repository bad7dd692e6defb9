#include "host/human_units.h"

#include <array>
#include <cmath>
#include <cstdio>

#include "common/file_time.h"

namespace mirrow::host {
namespace {

std::string two_digits(std::int64_t value) {
  std::string out = std::to_string(value);
  return out.size() < 2 ? "0" + out : out;
}

struct CivilDate {
  std::int64_t year;
  unsigned month;
  unsigned day;
};

// Days since 1970-01-01 to a proleptic Gregorian date (Howard Hinnant's
// days-to-civil algorithm).
CivilDate civil_from_days(std::int64_t days) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto day_of_era = static_cast<std::uint64_t>(days - era * 146097);
  const std::uint64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const std::uint64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::uint64_t mp = (5 * day_of_year + 2) / 153;
  const auto day = static_cast<unsigned>(day_of_year - (153 * mp + 2) / 5 + 1);
  const auto month = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
  const std::int64_t year = static_cast<std::int64_t>(year_of_era) + era * 400 + (month <= 2 ? 1 : 0);
  return {year, month, day};
}

std::int64_t floor_div(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

std::string time_of_day(std::int64_t seconds) {
  const std::int64_t in_day = seconds - floor_div(seconds, 86400) * 86400;
  return two_digits(in_day / 3600) + ":" + two_digits(in_day / 60 % 60) + ":" + two_digits(in_day % 60);
}

}  // namespace

std::string human_bytes(std::uint64_t bytes) {
  static constexpr std::array<const char*, 6> kUnits{"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes) / 1024.0;
  std::size_t unit = 0;
  // Move up while the rounded figure would read 1024.0 or more.
  while (value >= 1023.95 && unit + 1 < kUnits.size()) {
    value /= 1024.0;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string grouped_count(std::uint64_t count) {
  const std::string digits = std::to_string(count);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (digits.size() - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return out;
}

std::string human_duration(std::uint64_t milliseconds) {
  if (milliseconds < 60000) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(milliseconds / 100) / 10.0);
    return text;
  }
  const std::uint64_t seconds = milliseconds / 1000;
  if (seconds < 3600) return std::to_string(seconds / 60) + " min " + two_digits(seconds % 60) + " s";
  return std::to_string(seconds / 3600) + " h " + two_digits(seconds / 60 % 60) + " min";
}

std::string clock_time(double unix_seconds, std::int64_t utc_offset_seconds) {
  if (!std::isfinite(unix_seconds) || std::fabs(unix_seconds) > 1e15) return "--:--:--";
  return time_of_day(static_cast<std::int64_t>(std::floor(unix_seconds)) + utc_offset_seconds);
}

std::string date_time_from_filetime(std::uint64_t filetime, std::int64_t utc_offset_seconds) {
  if (filetime > static_cast<std::uint64_t>(INT64_MAX)) return "(date out of range)";
  const auto since_1601 = static_cast<std::int64_t>(filetime) / filetime_units_per_second;
  const std::int64_t unix = since_1601 - filetime_unix_epoch / filetime_units_per_second + utc_offset_seconds;
  const CivilDate date = civil_from_days(floor_div(unix, 86400));
  return std::to_string(date.year) + "-" + two_digits(date.month) + "-" + two_digits(date.day) + " " +
         time_of_day(unix);
}

}  // namespace mirrow::host
