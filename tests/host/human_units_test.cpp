#include "host/human_units.h"

#include <gtest/gtest.h>

namespace mirrow::host {
namespace {

TEST(HumanUnits, sizes_use_binary_units_with_one_decimal_and_move_up_before_reading_1024) {
  EXPECT_EQ(human_bytes(0), "0 B");
  EXPECT_EQ(human_bytes(1023), "1023 B");
  EXPECT_EQ(human_bytes(1024), "1.0 KiB");
  EXPECT_EQ(human_bytes(1536), "1.5 KiB");
  EXPECT_EQ(human_bytes(1048575), "1.0 MiB");
  EXPECT_EQ(human_bytes(12900000), "12.3 MiB");
  EXPECT_EQ(human_bytes(UINT64_MAX), "16.0 EiB");
}

TEST(HumanUnits, counts_are_grouped_by_thousands) {
  EXPECT_EQ(grouped_count(0), "0");
  EXPECT_EQ(grouped_count(999), "999");
  EXPECT_EQ(grouped_count(1000), "1,000");
  EXPECT_EQ(grouped_count(1234567), "1,234,567");
}

TEST(HumanUnits, durations_grow_from_tenths_of_seconds_to_minutes_and_hours) {
  EXPECT_EQ(human_duration(0), "0.0 s");
  EXPECT_EQ(human_duration(59999), "59.9 s");
  EXPECT_EQ(human_duration(65000), "1 min 05 s");
  EXPECT_EQ(human_duration(7380000), "2 h 03 min");
}

TEST(HumanUnits, clock_times_apply_the_local_offset_and_wrap_at_midnight) {
  EXPECT_EQ(clock_time(1764979200.5, 0), "00:00:00");
  EXPECT_EQ(clock_time(1764979200.5, 3 * 3600), "03:00:00");
  EXPECT_EQ(clock_time(1764979200.5, -3600), "23:00:00");
  EXPECT_EQ(clock_time(-1.5, 0), "23:59:58");
  EXPECT_EQ(clock_time(1e300, 0), "--:--:--");
}

TEST(HumanUnits, file_times_become_calendar_dates) {
  EXPECT_EQ(date_time_from_filetime(116444736000000000ull, 0), "1970-01-01 00:00:00");
  // 2024-01-01 09:00:00 UTC
  EXPECT_EQ(date_time_from_filetime(133485732000000000ull, 0), "2024-01-01 09:00:00");
  EXPECT_EQ(date_time_from_filetime(133485732000000000ull, -10 * 3600), "2023-12-31 23:00:00");
  EXPECT_EQ(date_time_from_filetime(0, 0), "1601-01-01 00:00:00");
}

}  // namespace
}  // namespace mirrow::host
