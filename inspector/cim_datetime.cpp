#include "inspector/cim_datetime.h"

#include <optional>

namespace mirrow::inspector {
namespace {

constexpr std::int64_t ticks_per_second = 10000000;
constexpr std::int64_t ticks_per_minute = 60 * ticks_per_second;

// Reads a field the way _wtoi does: leading white space, an optional sign,
// then the leading digits; 0 when there are none.
std::int64_t read_number(std::u16string_view field) {
  std::size_t i = 0;
  while (i < field.size() && (field[i] == u' ' || (field[i] >= u'\t' && field[i] <= u'\r'))) ++i;
  bool negative = false;
  if (i < field.size() && (field[i] == u'+' || field[i] == u'-')) negative = field[i++] == u'-';
  std::int64_t value = 0;
  for (; i < field.size() && field[i] >= u'0' && field[i] <= u'9'; ++i) value = value * 10 + (field[i] - u'0');
  return negative ? -value : value;
}

bool is_leap_year(std::int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

std::int64_t days_in_month(std::int64_t year, std::int64_t month) {
  static constexpr std::int64_t days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && is_leap_year(year) ? 29 : days[month - 1];
}

// Days from 1601-01-01 to the given civil date (proleptic Gregorian).
std::int64_t days_since_1601(std::int64_t year, std::int64_t month, std::int64_t day) {
  const std::int64_t y = year - 1601;
  std::int64_t days = y * 365 + y / 4 - y / 100 + y / 400;
  for (std::int64_t m = 1; m < month; ++m) days += days_in_month(year, m);
  return days + day - 1;
}

// The calendar fields as a file time, with the range checks of
// SystemTimeToFileTime (years 1601 to 30827, real months, days and times).
std::optional<std::int64_t> civil_to_filetime(std::int64_t year, std::int64_t month, std::int64_t day,
                                              std::int64_t hour, std::int64_t minute, std::int64_t second) {
  if (year < 1601 || year > 30827 || month < 1 || month > 12) return std::nullopt;
  if (day < 1 || day > days_in_month(year, month)) return std::nullopt;
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) return std::nullopt;
  const std::int64_t seconds = ((days_since_1601(year, month, day) * 24 + hour) * 60 + minute) * 60 + second;
  return seconds * ticks_per_second;
}

}  // namespace

std::uint64_t parse_cim_datetime(std::u16string_view text) {
  if (text.size() < 25 || text.find(u'*') != std::u16string_view::npos) return 0;
  const auto field = [&](std::size_t at, std::size_t length) { return read_number(text.substr(at, length)); };
  const auto local = civil_to_filetime(field(0, 4), field(4, 2), field(6, 2), field(8, 2), field(10, 2), field(12, 2));
  if (!local) return 0;
  const std::int64_t microseconds = field(15, 6);
  const std::int64_t offset = field(22, 3) * ticks_per_minute;
  const std::int64_t utc = *local + microseconds * 10 + (text[21] == u'-' ? offset : -offset);
  return utc > 0 ? static_cast<std::uint64_t>(utc) : 0;
}

}  // namespace mirrow::inspector
