#include "engine/watch/change_recorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine/api/configuration.h"
#include "engine/api/engine_core.h"
#include "support/change_records.h"

namespace mirrow {
namespace {

using testing::change_records;
using testing::put_u32;

struct Activity {
  std::u16string path;
  std::u16string second;
  std::uint32_t kind;
  std::uint32_t pid;
  std::uint64_t count;
  bool operator==(const Activity&) const = default;
};

class ChangeRecorderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine.own_pid = 4242;
    ASSERT_EQ(add_root(engine, 1, u"C:\\Data", false), 0u);
    ASSERT_EQ(add_exclusion(engine, u"C:\\Data\\Skip"), 0u);
    prepare_roots_for_start(engine.root_set);
  }

  void feed(const std::vector<testing::ChangeRecordSpec>& records) {
    const auto bytes = change_records(records);
    recorder.handle_buffer(bytes.data(), bytes.size());
  }

  std::vector<Activity> activity() {
    std::vector<Activity> out;
    std::lock_guard guard(engine.activity.activity_lock);
    for (const auto& [key, group] : engine.activity.groups) {
      const std::u16string second(group.second ? group.second->path : u"");
      out.push_back({std::u16string(group.name->path), second, group.kind, group.pid, group.count});
    }
    std::sort(out.begin(), out.end(), [](const Activity& a, const Activity& b) { return a.kind < b.kind; });
    return out;
  }

  std::uint64_t count(Counter c) const { return engine.counters.get(c); }

  EngineCore engine;
  ChangeRecorder recorder{engine.names, engine.counters, engine.recorder, u"c:\\data"};
};

TEST_F(ChangeRecorderTest, records_added_modified_and_removed_with_process_zero) {
  feed({{1, u"A.txt"}, {3, u"A.txt"}, {3, u"A.txt"}, {2, u"Sub\\B.txt"}});
  EXPECT_EQ(activity(), (std::vector<Activity>{{u"c:\\data\\a.txt", u"", 7, 0, 1},
                                               {u"c:\\data\\a.txt", u"", 8, 0, 2},
                                               {u"c:\\data\\sub\\b.txt", u"", 9, 0, 1}}));
  EXPECT_EQ(count(Counter::watch_notifications), 4u);
  EXPECT_EQ(count(Counter::watch_losses), 0u);
}

TEST_F(ChangeRecorderTest, pairs_rename_halves_even_across_buffers) {
  feed({{4, u"a.txt"}});
  EXPECT_TRUE(recorder.rename_pending());
  feed({{5, u"sub\\b.txt"}});
  EXPECT_EQ(activity(), (std::vector<Activity>{{u"c:\\data\\a.txt", u"c:\\data\\sub\\b.txt", 10, 0, 1}}));
  EXPECT_FALSE(recorder.rename_pending());
  EXPECT_EQ(count(Counter::watch_losses), 0u);
}

TEST_F(ChangeRecorderTest, forgets_an_old_name_followed_by_anything_else_and_counts_it_lost) {
  feed({{4, u"old.txt"}, {1, u"new.txt"}});
  EXPECT_EQ(activity(), (std::vector<Activity>{{u"c:\\data\\new.txt", u"", 7, 0, 1}}));
  EXPECT_EQ(count(Counter::watch_losses), 1u);
  EXPECT_FALSE(recorder.rename_pending());
}

TEST_F(ChangeRecorderTest, turns_a_new_name_without_old_name_into_added_and_counts_it_lost) {
  feed({{5, u"b.txt"}});
  EXPECT_EQ(activity(), (std::vector<Activity>{{u"c:\\data\\b.txt", u"", 7, 0, 1}}));
  EXPECT_EQ(count(Counter::watch_losses), 1u);
}

TEST_F(ChangeRecorderTest, counts_changes_under_an_exclusion_but_records_nothing) {
  feed({{1, u"skip\\x.txt"}, {3, u"Skip\\deeper\\y"}, {4, u"skip\\o"}, {5, u"skip\\n"}});
  EXPECT_TRUE(activity().empty());
  EXPECT_EQ(count(Counter::watch_notifications), 4u);
}

TEST_F(ChangeRecorderTest, ignores_unknown_actions_after_counting_them) {
  feed({{9, u"a.txt"}, {0, u"b.txt"}});
  EXPECT_TRUE(activity().empty());
  EXPECT_EQ(count(Counter::watch_notifications), 2u);
}

TEST_F(ChangeRecorderTest, keeps_records_before_a_malformed_one_and_counts_one_error) {
  auto bytes = change_records({{1, u"a.txt"}, {1, u"b.txt"}, {1, u"c.txt"}});
  put_u32(bytes, 24 + 8, 3);  // second record: odd name length
  recorder.handle_buffer(bytes.data(), bytes.size());
  EXPECT_EQ(activity(), (std::vector<Activity>{{u"c:\\data\\a.txt", u"", 7, 0, 1}}));
  EXPECT_EQ(count(Counter::errors), 1u);
  EXPECT_EQ(count(Counter::watch_notifications), 1u);
}

TEST_F(ChangeRecorderTest, counts_lost_rounds_and_an_unpaired_old_name_at_the_end) {
  recorder.count_lost_round();
  feed({{4, u"a.txt"}});
  recorder.finish();
  EXPECT_EQ(count(Counter::watch_losses), 2u);
  EXPECT_FALSE(recorder.rename_pending());
  recorder.finish();
  EXPECT_EQ(count(Counter::watch_losses), 2u);
}

TEST(ChangeRecorderPaths, joins_names_to_a_watched_drive_root_without_doubling_the_backslash) {
  EngineCore engine;
  engine.own_pid = 4242;
  ASSERT_EQ(add_root(engine, 3, u"C:\\", false), 0u);
  prepare_roots_for_start(engine.root_set);
  ChangeRecorder recorder(engine.names, engine.counters, engine.recorder, u"c:\\");
  const auto bytes = change_records({{1, u"top.txt"}});
  recorder.handle_buffer(bytes.data(), bytes.size());
  std::lock_guard guard(engine.activity.activity_lock);
  ASSERT_EQ(engine.activity.groups.size(), 1u);
  EXPECT_EQ(engine.activity.groups.begin()->second.name->path, u"c:\\top.txt");
}

}  // namespace
}  // namespace mirrow
