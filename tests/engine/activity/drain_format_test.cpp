#include "engine/activity/drain_format.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "activity_test_support.h"

namespace mirrow {
namespace {

using namespace testing_support;

std::u16string data_path(std::size_t units, std::size_t number) {
  std::u16string p = u"c:\\data\\";
  for (char c : std::to_string(number)) p += static_cast<char16_t>(c);
  p += u'_';
  p.append(units - p.size(), u'x');
  return p;
}

// n groups of distinct paths of the given length; group i has last time i.
void record_groups(EngineCore& engine, std::size_t n, std::size_t units, double base = 0.0) {
  for (std::size_t i = 0; i < n; ++i) record(engine, data_path(units, i), 1, 10, base + static_cast<double>(i));
}

TEST(DrainText, nothing_recorded_gives_an_empty_array) {
  auto engine = engine_with_data_root();
  EXPECT_EQ(drain(*engine), "[]");
  EXPECT_EQ(engine->activity.drain_text.size(), 2u);
}

TEST(DrainText, records_hold_eight_values_in_order_and_come_sorted_by_last_time) {
  auto engine = engine_with_data_root();
  const NameRef report = intern_name(engine->names, engine->counters, u"C:\\Data\\Report.txt");
  const NameRef old_name = intern_name(engine->names, engine->counters, u"c:\\data\\old.txt");
  const NameRef new_name = intern_name(engine->names, engine->counters, u"c:\\data\\new.txt");
  engine->recorder.record(report, 2, 4242, 1764979200.5, nullptr, 7, 1764979203.25);
  engine->recorder.record(old_name, 10, 0, 1764979201.0, new_name, 1, 0.0);
  EXPECT_EQ(drain(*engine),
            R"([[1764979201,3,"c:\\data\\old.txt",10,0,"c:\\data\\new.txt",1,1764979201],)"
            R"([1764979200.5,3,"c:\\data\\report.txt",2,4242,"",7,1764979203.25]])");
}

TEST(DrainText, times_have_seventeen_significant_digits_in_general_notation) {
  auto engine = engine_with_data_root();
  record(*engine, u"c:\\data\\a", 1, 10, 0.1);
  record(*engine, u"c:\\data\\b", 1, 10, 1e20);
  record(*engine, u"c:\\data\\c", 1, 10, 0.00001);
  EXPECT_EQ(drain(*engine), R"([[1.0000000000000001e-05,3,"c:\\data\\c",1,10,"",1,1.0000000000000001e-05],)"
                            R"([0.10000000000000001,3,"c:\\data\\a",1,10,"",1,0.10000000000000001],)"
                            R"([1e+20,3,"c:\\data\\b",1,10,"",1,1e+20]])");
}

TEST(DrainText, paths_are_escaped_into_plain_ascii) {
  auto engine = engine_with_data_root();
  record(*engine, u"c:\\data\\caf\u00e9", 1, 10, 1.0);
  record(*engine, u"c:\\data\\\U0001F600", 1, 10, 2.0);
  record(*engine, u"c:\\data\\q\"\ttab", 1, 10, 3.0);
  EXPECT_EQ(drain(*engine), R"([[1,3,"c:\\data\\caf\u00e9",1,10,"",1,1],)"
                            R"([2,3,"c:\\data\\\ud83d\ude00",1,10,"",1,2],)"
                            R"([3,3,"c:\\data\\q\"\u0009tab",1,10,"",1,3]])");
}

TEST(DrainText, fifteen_hundred_groups_come_as_1024_then_476_in_last_time_order) {
  auto engine = engine_with_data_root();
  for (std::size_t i = 0; i < 1500; ++i) {
    record(*engine, data_path(128, i), 1, 10, static_cast<double>(1499 - i));  // recorded newest first
  }
  const std::string first = drain(*engine);
  EXPECT_EQ(record_count(first), 1024u);
  EXPECT_EQ(first.rfind("[0,3,", 1), 1u);
  EXPECT_NE(first.find("[1023,3,"), std::string::npos);
  EXPECT_EQ(first.find("[1024,3,"), std::string::npos);

  record(*engine, u"c:\\data\\later", 1, 10, 0.5);  // recorded after the first drain
  const std::string second = drain(*engine);
  EXPECT_EQ(record_count(second), 477u);
  EXPECT_EQ(second.rfind("[1024,3,", 1), 1u);
  EXPECT_NE(second.find("[0.5,3,\"c:\\\\data\\\\later\""), std::string::npos);
  EXPECT_LT(second.find("[1499,3,"), second.find("[0.5,3,"));  // leftovers before newcomers
  EXPECT_EQ(drain(*engine), "[]");
}

TEST(DrainText, long_paths_fill_a_batch_by_its_one_mebibyte_estimate) {
  auto engine = engine_with_data_root();
  record_groups(*engine, 200, 1000);
  EXPECT_EQ(record_count(drain(*engine)), 167u);
  EXPECT_EQ(record_count(drain(*engine)), 33u);
}

TEST(DrainText, a_group_larger_than_a_batch_is_still_handed_out_alone) {
  auto engine = engine_with_data_root();
  record_groups(*engine, 2, 200000);
  EXPECT_EQ(record_count(drain(*engine)), 1u);
  EXPECT_EQ(record_count(drain(*engine)), 1u);
}

TEST(DrainText, a_drained_group_releases_its_names) {
  auto engine = engine_with_data_root();
  record(*engine, u"c:\\data\\a", 1, 10, 1.0);
  release_unreferenced_names(engine->names);
  EXPECT_GT(engine->names.budget->bytes.load(), 0u);
  drain(*engine);
  release_unreferenced_names(engine->names);
  EXPECT_EQ(engine->names.budget->bytes.load(), 0u);
}

void failing_format(GroupSpan, std::string& out) {
  out += "[partial";
  throw std::bad_alloc();
}

TEST(DrainText, a_failed_drain_keeps_its_batch_at_the_head_in_order) {
  auto failing = engine_with_data_root();
  record_groups(*failing, 1500, 64);
  drain(*failing);  // first 1024 out
  record(*failing, u"c:\\data\\newcomer", 1, 10, 0.25);
  const std::string kept_text = failing->activity.drain_text;
  EXPECT_THROW(drain_activity(failing->activity, failing_format), std::bad_alloc);
  EXPECT_EQ(failing->activity.drain_text, kept_text);
  EXPECT_EQ(failing->activity.ready_groups.size(), 477u);

  const std::string retried = drain(*failing);
  EXPECT_EQ(record_count(retried), 477u);
  EXPECT_EQ(retried.rfind("[1024,3,", 1), 1u);
  EXPECT_LT(retried.find("[1499,3,"), retried.find("[0.25,3,"));
}

}  // namespace
}  // namespace mirrow
