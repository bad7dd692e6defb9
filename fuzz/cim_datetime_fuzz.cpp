// WMI date-time text against an independent reading: the fields read with
// strtol, the calendar checked and counted by the C library's timegm and
// gmtime_r. Every text must give exactly the same file time (0 for the texts
// the parser refuses).
//
// Input: a mode byte, then the text. Mode bit 0 clear: every byte is one
// UTF-16 unit (digits and signs come cheaply); set: little-endian pairs.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

#include "inspector/cim_datetime.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

// The field as ASCII for strtol; a unit beyond ASCII is no digit, sign or
// white space, so it reads as the end of the number.
long read_field(std::u16string_view text, std::size_t at, std::size_t length) {
  std::string ascii;
  for (char16_t unit : text.substr(at, length)) ascii.push_back(unit < 0x80 && unit != 0 ? static_cast<char>(unit) : 'x');
  return std::strtol(ascii.c_str(), nullptr, 10);
}

std::uint64_t expected_file_time(std::u16string_view text) {
  if (text.size() < 25 || text.find(u'*') != std::u16string_view::npos) return 0;
  const long year = read_field(text, 0, 4);
  if (year < 1601 || year > 30827) return 0;
  std::tm fields{};
  fields.tm_year = static_cast<int>(year - 1900);
  fields.tm_mon = static_cast<int>(read_field(text, 4, 2) - 1);
  fields.tm_mday = static_cast<int>(read_field(text, 6, 2));
  fields.tm_hour = static_cast<int>(read_field(text, 8, 2));
  fields.tm_min = static_cast<int>(read_field(text, 10, 2));
  fields.tm_sec = static_cast<int>(read_field(text, 12, 2));
  std::tm copy = fields;
  const std::time_t seconds = timegm(&copy);
  std::tm back{};
  require(gmtime_r(&seconds, &back) != nullptr);
  // timegm carries out-of-range fields into the next ones; a real calendar
  // time comes back unchanged.
  if (back.tm_year != fields.tm_year || back.tm_mon != fields.tm_mon || back.tm_mday != fields.tm_mday ||
      back.tm_hour != fields.tm_hour || back.tm_min != fields.tm_min || back.tm_sec != fields.tm_sec)
    return 0;
  constexpr std::int64_t seconds_1601_to_1970 = 11644473600;
  const std::int64_t offset_ticks = static_cast<std::int64_t>(read_field(text, 22, 3)) * 600000000;
  const std::int64_t ticks = (static_cast<std::int64_t>(seconds) + seconds_1601_to_1970) * 10000000 +
                             static_cast<std::int64_t>(read_field(text, 15, 6)) * 10 +
                             (text[21] == u'-' ? offset_ticks : -offset_ticks);
  return ticks > 0 ? static_cast<std::uint64_t>(ticks) : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::u16string text;
  if (data[0] & 1) {
    for (std::size_t i = 1; i + 1 < size; i += 2) text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  } else {
    for (std::size_t i = 1; i < size; ++i) text.push_back(static_cast<char16_t>(data[i]));
  }
  // An exactly sized heap copy, so a read past the end of the text is caught.
  const std::unique_ptr<char16_t[]> copy(new char16_t[text.size()]);
  std::copy(text.begin(), text.end(), copy.get());
  const std::u16string_view exact(copy.get(), text.size());
  const std::uint64_t parsed = mirrow::inspector::parse_cim_datetime(exact);
  require(parsed == expected_file_time(exact));
  return 0;
}
