#include "inspector/load_report.h"

#include <gtest/gtest.h>

namespace mirrow::inspector {
namespace {

std::string report(std::optional<double> load, const std::vector<std::u16string>& names = {}) {
  std::string out;
  append_load_report(out, load, names);
  return out;
}

// The load over an interval in which `idle` of `total` time units were idle.
std::optional<double> load_over(std::uint64_t idle, std::uint64_t total) {
  LoadSample sample{5000, 100000};
  return take_load_sample(sample, 5000 + idle, 100000 + total);
}

TEST(LoadSample, the_first_sample_gives_no_load_and_is_stored) {
  LoadSample sample;
  EXPECT_EQ(take_load_sample(sample, 700, 1000), std::nullopt);
  EXPECT_EQ(sample.prev_idle, 700u);
  EXPECT_EQ(sample.prev_total, 1000u);
}

TEST(LoadSample, the_load_is_the_busy_share_of_the_interval_in_percent) {
  LoadSample sample;
  take_load_sample(sample, 700, 1000);
  EXPECT_EQ(take_load_sample(sample, 700 + 3, 1000 + 4), 25.0);
  EXPECT_EQ(sample.prev_idle, 703u);
  EXPECT_EQ(sample.prev_total, 1004u);
}

TEST(LoadSample, idle_and_busy_intervals_give_the_ends_of_the_range) {
  EXPECT_EQ(load_over(400, 400), 0.0);
  EXPECT_EQ(load_over(0, 400), 100.0);
}

TEST(LoadSample, more_idle_time_than_total_time_is_clamped_to_zero) {
  EXPECT_EQ(load_over(401, 400), 0.0);
}

TEST(LoadSample, no_elapsed_time_or_a_backward_idle_counter_gives_no_load_but_replaces_the_sample) {
  LoadSample sample{500, 1000};
  EXPECT_EQ(take_load_sample(sample, 600, 1000), std::nullopt);
  EXPECT_EQ(sample.prev_idle, 600u);
  EXPECT_EQ(take_load_sample(sample, 599, 2000), std::nullopt);
  EXPECT_EQ(sample.prev_idle, 599u);
  EXPECT_EQ(sample.prev_total, 2000u);
  EXPECT_EQ(take_load_sample(sample, 599, 1500), std::nullopt);  // total went backwards
  EXPECT_EQ(sample.prev_total, 1500u);
}

TEST(LoadReport, the_load_is_written_with_six_significant_digits) {
  EXPECT_EQ(report(load_over(2, 3)), "{\"cpu\":33.3333,\"names\":[]}");
  EXPECT_EQ(report(load_over(0, 3)), "{\"cpu\":100,\"names\":[]}");
  EXPECT_EQ(report(load_over(3, 3)), "{\"cpu\":0,\"names\":[]}");
  EXPECT_EQ(report(3.5), "{\"cpu\":3.5,\"names\":[]}");
  EXPECT_EQ(report(12.345678), "{\"cpu\":12.3457,\"names\":[]}");
}

TEST(LoadReport, no_load_is_null_and_names_keep_order_duplicates_and_escape_cyrillic) {
  EXPECT_EQ(report(std::nullopt, {u"svchost.exe", u"\u0422\u0435\u0441\u0442.exe", u"svchost.exe"}),
            "{\"cpu\":null,\"names\":[\"svchost.exe\",\"\\u0422\\u0435\\u0441\\u0442.exe\",\"svchost.exe\"]}");
}

}  // namespace
}  // namespace mirrow::inspector
