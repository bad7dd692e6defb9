#include "inspector/cim_datetime.h"

#include <gtest/gtest.h>

namespace mirrow::inspector {
namespace {

constexpr std::uint64_t ticks_per_second = 10000000;
constexpr std::uint64_t ticks_per_hour = 3600 * ticks_per_second;
// 2024-01-01 00:00:00 UTC as a file time.
constexpr std::uint64_t new_year_2024 = 133485408000000000;

TEST(CimDatetime, a_positive_offset_is_subtracted_to_reach_utc) {
  EXPECT_EQ(parse_cim_datetime(u"20240101120000.500000+180"), new_year_2024 + 9 * ticks_per_hour + ticks_per_second / 2);
}

TEST(CimDatetime, a_negative_offset_is_added_and_any_other_sign_counts_as_plus) {
  EXPECT_EQ(parse_cim_datetime(u"20240101120000.000000-060"), new_year_2024 + 13 * ticks_per_hour);
  EXPECT_EQ(parse_cim_datetime(u"20240101120000.000000 060"), new_year_2024 + 11 * ticks_per_hour);
}

TEST(CimDatetime, microseconds_keep_their_full_resolution) {
  EXPECT_EQ(parse_cim_datetime(u"20240101000000.000001+000"), new_year_2024 + 10);
  EXPECT_EQ(parse_cim_datetime(u"20240101000000.999999+000"), new_year_2024 + 9999990);
}

TEST(CimDatetime, fields_are_read_like_wtoi_leading_digits_only) {
  EXPECT_EQ(parse_cim_datetime(u"20240101000000.12ab00+000"), new_year_2024 + 120);
  EXPECT_EQ(parse_cim_datetime(u"20240101000000.000000+xyz"), new_year_2024);
}

TEST(CimDatetime, short_texts_and_wildcards_give_zero) {
  EXPECT_EQ(parse_cim_datetime(u""), 0u);
  EXPECT_EQ(parse_cim_datetime(u"20240101120000.500000+18"), 0u);
  EXPECT_EQ(parse_cim_datetime(u"2024****120000.500000+180"), 0u);
  EXPECT_EQ(parse_cim_datetime(u"20240101120000.500000+180*"), 0u);
}

TEST(CimDatetime, impossible_calendar_times_give_zero) {
  EXPECT_EQ(parse_cim_datetime(u"20241301120000.000000+000"), 0u);  // month 13
  EXPECT_EQ(parse_cim_datetime(u"20230229120000.000000+000"), 0u);  // not a leap year
  EXPECT_EQ(parse_cim_datetime(u"20240100120000.000000+000"), 0u);  // day 0
  EXPECT_EQ(parse_cim_datetime(u"20240101240000.000000+000"), 0u);  // hour 24
  EXPECT_EQ(parse_cim_datetime(u"15991231235959.000000+000"), 0u);  // before 1601
  EXPECT_NE(parse_cim_datetime(u"20240229120000.000000+000"), 0u);  // a leap day
  EXPECT_NE(parse_cim_datetime(u"21000228120000.000000+000"), 0u);
  EXPECT_EQ(parse_cim_datetime(u"21000229120000.000000+000"), 0u);  // 2100 is no leap year
}

TEST(CimDatetime, the_first_instant_of_1601_and_times_pushed_before_it_give_zero) {
  EXPECT_EQ(parse_cim_datetime(u"16010101000000.000001+000"), 10u);
  EXPECT_EQ(parse_cim_datetime(u"16010101000000.000000+060"), 0u);
}

}  // namespace
}  // namespace mirrow::inspector
