#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include "activity_test_support.h"

namespace mirrow {
namespace {

using namespace testing_support;

TEST(ActivityAggregation, reads_in_one_five_second_window_merge_into_one_group) {
  auto engine = engine_with_data_root();
  record(*engine, u"c:\\data\\a", 1, 10, 10.0);
  record(*engine, u"c:\\data\\a", 1, 10, 12.0);
  EXPECT_EQ(drain(*engine), R"([[10,3,"c:\\data\\a",1,10,"",2,12]])");
}

TEST(ActivityAggregation, reads_either_side_of_a_window_edge_stay_apart) {
  auto engine = engine_with_data_root();
  record(*engine, u"c:\\data\\a", 1, 10, 14.9);
  record(*engine, u"c:\\data\\a", 1, 10, 15.1);
  EXPECT_EQ(record_count(drain(*engine)), 2u);
}

TEST(ActivityAggregation, other_process_or_other_kind_or_other_second_name_is_another_group) {
  auto engine = engine_with_data_root();
  const NameRef a = intern_name(engine->names, engine->counters, u"c:\\data\\a");
  const NameRef b = intern_name(engine->names, engine->counters, u"c:\\data\\b");
  engine->recorder.record(a, 1, 10, 1.0, nullptr, 1, 0.0);
  engine->recorder.record(a, 1, 11, 1.0, nullptr, 1, 0.0);
  engine->recorder.record(a, 2, 10, 1.0, nullptr, 1, 0.0);
  engine->recorder.record(a, 10, 0, 1.0, b, 1, 0.0);
  engine->recorder.record(a, 10, 0, 1.0, nullptr, 1, 0.0);
  EXPECT_EQ(engine->activity.groups.size(), 5u);
}

TEST(ActivityAggregation, merged_group_keeps_earliest_first_latest_last_and_sums_counts) {
  auto engine = engine_with_data_root();
  record(*engine, u"c:\\data\\a", 2, 10, 11.0, 4, 13.5);
  record(*engine, u"c:\\data\\a", 2, 10, 10.5, 3, 0.0);
  EXPECT_EQ(drain(*engine), R"([[10.5,3,"c:\\data\\a",2,10,"",7,13.5]])");
}

TEST(ActivityAggregation, own_process_outside_roots_excluded_or_nameless_is_silent) {
  auto engine = engine_with_data_root();
  add_exclusion(*engine, u"c:\\data\\tmp");
  record(*engine, u"c:\\data\\a", 1, own_pid, 1.0);
  record(*engine, u"c:\\other\\a", 1, 10, 1.0);
  record(*engine, u"c:\\data\\tmp\\x", 1, 10, 1.0);
  engine->recorder.record(nullptr, 1, 10, 1.0, nullptr, 1, 0.0);
  EXPECT_EQ(drain(*engine), "[]");
  for (std::size_t c = 0; c < static_cast<std::size_t>(Counter::count); ++c) {
    EXPECT_EQ(engine->counters.get(static_cast<Counter>(c)), 0u) << c;
  }
}

TEST(ActivityAggregation, a_group_keeps_the_root_it_was_created_with) {
  auto engine = engine_with_data_root();
  record(*engine, u"c:\\data\\a", 1, 10, 1.0);
  add_root(*engine, 9, u"c:\\data\\a", true);
  prepare_roots_for_start(engine->root_set);
  record(*engine, u"c:\\data\\a", 1, 10, 2.0);
  EXPECT_EQ(drain(*engine), R"([[1,3,"c:\\data\\a",1,10,"",2,2]])");
}

void fill_with_distinct_groups(EngineCore& engine, std::size_t n) {
  const NameRef name = intern_name(engine.names, engine.counters, u"c:\\data\\many");
  for (std::size_t i = 0; i < n; ++i) {
    engine.recorder.record(name, 1, static_cast<std::uint32_t>(1000 + i), 1.0, nullptr, 1, 0.0);
  }
}

TEST(ActivityAggregation, new_keys_beyond_the_group_cap_go_to_dropped_while_open_groups_merge) {
  auto engine = engine_with_data_root();
  fill_with_distinct_groups(*engine, ActivityStore::group_cap);
  record(*engine, u"c:\\data\\new", 1, 10, 1.0, 5);
  EXPECT_EQ(engine->counters.get(Counter::dropped), 5u);

  record(*engine, u"c:\\data\\many", 1, 1000, 2.0, 2);
  EXPECT_EQ(engine->counters.get(Counter::dropped), 5u);
  EXPECT_EQ(engine->activity.groups.size(), ActivityStore::group_cap);
}

TEST(ActivityAggregation, the_group_cap_counts_groups_waiting_in_the_ready_queue) {
  auto engine = engine_with_data_root();
  fill_with_distinct_groups(*engine, ActivityStore::group_cap);
  drain(*engine);  // hands out 1024, the rest wait in the ready queue
  fill_with_distinct_groups(*engine, 1024);  // same keys reopen as new groups
  EXPECT_EQ(engine->counters.get(Counter::dropped), 0u);
  record(*engine, u"c:\\data\\new", 1, 10, 1.0);
  EXPECT_EQ(engine->counters.get(Counter::dropped), 1u);
}

TEST(ActivityAggregation, a_read_of_the_probe_path_is_seen_even_outside_every_root) {
  auto engine = engine_with_data_root();
  set_probe(engine->probe, u"C:\\Probe\\p.txt");
  record(*engine, u"c:\\probe\\p.txt", 2, 10, 1.0);
  EXPECT_FALSE(engine->probe.probe_seen.load());
  record(*engine, u"c:\\probe\\p.txt", 1, 10, 1.0);
  EXPECT_TRUE(engine->probe.probe_seen.load());
  EXPECT_EQ(drain(*engine), "[]");
}

TEST(ActivityAggregation, nonsense_times_fall_into_a_window_without_overflow) {
  EXPECT_EQ(time_bucket(14.9), 2u);
  EXPECT_EQ(time_bucket(15.1), 3u);
  EXPECT_EQ(time_bucket(-12.0), 0u);
  EXPECT_EQ(time_bucket(std::numeric_limits<double>::quiet_NaN()), 0u);
  EXPECT_EQ(time_bucket(1e300), UINT64_MAX);

  auto engine = engine_with_data_root();
  record(*engine, u"c:\\data\\a", 1, 10, std::numeric_limits<double>::quiet_NaN());
  record(*engine, u"c:\\data\\b", 1, 10, -1e300);
  record(*engine, u"c:\\data\\c", 1, 10, 5.0);
  EXPECT_EQ(record_count(drain(*engine)), 3u);
}

TEST(ActivityAggregation, test_emit_refuses_kinds_outside_one_to_ten_and_a_null_path) {
  auto engine = engine_with_data_root();
  EXPECT_EQ(emit_test_activity(*engine, u"c:\\data\\a", 0, 10, 1.0), result_invalid);
  EXPECT_EQ(emit_test_activity(*engine, u"c:\\data\\a", 11, 10, 1.0), result_invalid);
  EXPECT_EQ(emit_test_activity(*engine, nullptr, 1, 10, 1.0), result_invalid);
  EXPECT_EQ(emit_test_activity(*engine, u"c:\\data\\a", 1, 10, std::nan("")), result_invalid);
  EXPECT_EQ(emit_test_activity(*engine, u"c:\\data\\a", 1, 10, HUGE_VAL), result_invalid);
  EXPECT_EQ(emit_test_activity(*engine, u"C:\\Data\\A", 10, 10, 1.0), result_ok);
  EXPECT_EQ(drain(*engine), R"([[1,3,"c:\\data\\a",10,10,"",1,1]])");
}

TEST(ActivityAggregation, test_emit_with_a_full_budget_records_nothing_and_still_succeeds) {
  auto engine = engine_with_data_root();
  engine->names.budget->bytes = NameTable::budget_limit;
  EXPECT_EQ(emit_test_activity(*engine, u"c:\\data\\a", 1, 10, 1.0), result_ok);
  EXPECT_EQ(engine->counters.get(Counter::dropped), 1u);
  engine->names.budget->bytes = 0;
  EXPECT_EQ(drain(*engine), "[]");
}

// Sum of the count values of a drain text whose paths hold no comma.
std::uint64_t total_count(const std::string& text) {
  std::uint64_t total = 0;
  for (std::size_t at = text.find(",\"\","); at != std::string::npos; at = text.find(",\"\",", at + 1)) {
    total += std::stoull(text.substr(at + 4));
  }
  return total;
}

// Each drainer counts inside its formatter, while its batch is still its
// own: a drained text lasts only until the next drain of the engine, which
// the other drainer may already be running.
std::atomic<std::uint64_t> formatted_total{0};

void count_into_drainer(GroupSpan batch, std::string& out) {
  for (const ActivityGroup& group : batch) formatted_total += group.count;
  out = "[]";
}

TEST(ActivityAggregation, concurrent_recording_and_draining_lose_and_double_nothing) {
  auto engine = engine_with_data_root();
  constexpr int per_thread = 20000;
  std::vector<std::thread> writers;
  for (int t = 0; t < 2; ++t) {
    writers.emplace_back([&engine, t] {
      for (int i = 0; i < per_thread; ++i) {
        record(*engine, u"c:\\data\\f" + std::u16string(1, static_cast<char16_t>(u'a' + i % 20)), 1 + t,
               static_cast<std::uint32_t>(10 + i % 50), static_cast<double>(i % 97));
      }
    });
  }
  // A second drainer at once: each batch must go to exactly one of them.
  formatted_total = 0;
  std::thread second_drainer([&] {
    for (int i = 0; i < 200; ++i) drain_activity(engine->activity, count_into_drainer);
  });
  for (int i = 0; i < 200; ++i) drain_activity(engine->activity, count_into_drainer);
  for (std::thread& w : writers) w.join();
  second_drainer.join();
  std::uint64_t drained = formatted_total;
  for (std::string text = drain(*engine); text != "[]"; text = drain(*engine)) drained += total_count(text);
  EXPECT_EQ(drained + engine->counters.get(Counter::dropped), 2u * per_thread);
}

TEST(ReadyQueueOrder, thousands_of_groups_come_out_by_last_time_with_nan_after_every_number) {
  // Enough groups for the radix sort, with times of one drain close together
  // and the odd nonsense: negative times, both zeros, infinities, NaN.
  const double odd[] = {-1e300, -5.5, -0.0, 0.0, 1e-300, std::numeric_limits<double>::infinity(),
                        -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()};
  for (std::size_t count : {std::size_t{100}, std::size_t{3000}}) {
    FlatMap<ActivityKey, ActivityGroup, ActivityKeyHash> groups;
    std::vector<double> lasts;
    std::uint64_t state = count;
    for (std::size_t i = 0; i < count; ++i) {
      state = state * 6364136223846793005ULL + 1442695040888963407ULL;
      const double last = state % 50 == 0 ? odd[(state >> 20) % 8]
                                          : 1764979200.0 + static_cast<double>((state >> 33) % 4000000) * 1e-6;
      ActivityGroup group;
      group.count = i;  // identifies the group
      group.last = last;
      groups.emplace(ActivityKey{i, 0, 0, 1, 1}, group);
      lasts.push_back(last);
    }
    ReadyQueue queue;
    queue.reserve_for(groups.size());
    queue.append_sorted(groups);
    ASSERT_EQ(queue.size(), count);
    std::vector<bool> seen(count, false);
    const ActivityGroup* previous = nullptr;
    for (const ActivityGroup& group : queue) {
      ASSERT_FALSE(seen[group.count]);
      seen[group.count] = true;
      EXPECT_TRUE(group.last == lasts[group.count] || std::isnan(lasts[group.count]));
      if (previous != nullptr) {
        // Never a NaN before a number, never a larger number before a smaller one.
        EXPECT_FALSE(std::isnan(previous->last) && !std::isnan(group.last)) << count;
        if (!std::isnan(previous->last) && !std::isnan(group.last)) {
          EXPECT_LE(previous->last, group.last) << count;
        }
      }
      previous = &group;
    }
  }
}

}  // namespace
}  // namespace mirrow
