#include "common/number_format.h"

#include <gtest/gtest.h>

#include <charconv>
#include <clocale>
#include <cmath>
#include <limits>

#include "common/file_time.h"

namespace mirrow {
namespace {

std::string g17(double v) {
  std::string out;
  append_g17(out, v);
  return out;
}

std::string g6(double v) {
  std::string out;
  append_g6(out, v);
  return out;
}

TEST(NumberFormat, g17_uses_fixed_notation_between_the_exponent_limits_and_drops_trailing_zeros) {
  EXPECT_EQ(g17(1700000000.0), "1700000000");
  EXPECT_EQ(g17(1700000000.5), "1700000000.5");
  EXPECT_EQ(g17(0.0), "0");
  EXPECT_EQ(g17(-1.5), "-1.5");
  EXPECT_EQ(g17(0.0001), "0.0001");
  EXPECT_EQ(g17(0.00001), "1.0000000000000001e-05");
  EXPECT_EQ(g17(1e16), "10000000000000000");
  EXPECT_EQ(g17(1e17), "1e+17");
  EXPECT_EQ(g17(1e300), "1.0000000000000001e+300");
}

TEST(NumberFormat, g6_prints_the_load_with_six_significant_digits) {
  EXPECT_EQ(g6(100.0 / 3.0), "33.3333");
  EXPECT_EQ(g6(12.345678), "12.3457");
  EXPECT_EQ(g6(100.0), "100");
  EXPECT_EQ(g6(0.0), "0");
  EXPECT_EQ(g6(3.5), "3.5");
}

TEST(NumberFormat, integers_are_plain_decimal) {
  std::string out;
  append_u64(out, 0);
  out += ',';
  append_u64(out, std::numeric_limits<std::uint64_t>::max());
  out += ',';
  append_i64(out, -2147483647 - 1);
  EXPECT_EQ(out, "0,18446744073709551615,-2147483648");
}

TEST(NumberFormat, writing_into_a_buffer_gives_the_appended_texts_within_their_room) {
  const double times[] = {0.0, -0.0, 1764979200.5, 1e300, -1e-300, 5e-324, 0.1, 1e16, 1e17, -123456789.125,
                          std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::max()};
  for (const double t : times) {
    char buffer[g17_max_chars];
    char* end = write_g17(buffer, t);
    ASSERT_LE(end - buffer, static_cast<std::ptrdiff_t>(g17_max_chars));
    EXPECT_EQ(std::string(buffer, end), g17(t));
  }
  char buffer[20];
  EXPECT_EQ(std::string(buffer, write_u64(buffer, std::numeric_limits<std::uint64_t>::max())), "18446744073709551615");
  EXPECT_EQ(std::string(buffer, write_i64(buffer, std::numeric_limits<std::int64_t>::min())), "-9223372036854775808");
  EXPECT_EQ(std::string(buffer, write_u64(buffer, 0)), "0");
}

TEST(NumberFormat, times_of_this_era_come_out_as_the_general_formatter_writes_them) {
  const auto general = [](double t) {
    char buffer[64];
    return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, t, std::chars_format::general, 17).ptr);
  };
  std::uint64_t state = 99;
  for (int i = 0; i < 200000; ++i) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    const double t = 1e9 + static_cast<double>(state >> 11) * (9e9 / 9007199254740992.0);
    ASSERT_EQ(g17(t), general(t)) << i;
  }
  // Whole seconds, halves exactly between two seventh decimals (rounded to
  // the even one), and the edges of the range.
  const double edges[] = {1e9, 1764979200.0, 1764979200.00390625, 1764979200.01171875, 1764979201.00000005,
                          9999999999.99999995, std::nextafter(1e10, 0.0), std::nextafter(1e9, 0.0), 1e10};
  for (const double t : edges) EXPECT_EQ(g17(t), general(t)) << general(t);
}

TEST(NumberFormat, output_ignores_the_process_locale) {
  const char* previous = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = previous ? previous : "C";
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) std::setlocale(LC_NUMERIC, "German");
  EXPECT_EQ(g17(1.25), "1.25");
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(FileTime, converts_to_unix_seconds_keeping_the_seven_decimals) {
  EXPECT_EQ(g17(unix_seconds_from_filetime(filetime_unix_epoch)), "0");
  EXPECT_EQ(g17(unix_seconds_from_filetime(filetime_unix_epoch + 17000000001234567LL)), "1700000000.1234567");
  EXPECT_EQ(g17(unix_seconds_from_filetime(0)), "-11644473600");
  EXPECT_EQ(g17(unix_seconds_from_filetime(filetime_unix_epoch - 15000000)), "-1.5");
}

}  // namespace
}  // namespace mirrow
