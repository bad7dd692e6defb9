#include "host/activity_lines.h"

#include <gtest/gtest.h>

namespace mirrow::host {
namespace {

TEST(ActivityLines, the_eight_values_of_a_record_are_read_in_their_order) {
  const auto batch = parse_drain(
      R"([[1764979200.5,3,"c:\\data\\report.txt",2,4242,"",7,1764979203.25],[1764979201,3,"c:\\data\\old.txt",10,0,"c:\\data\\new.txt",1,1764979201]])");
  ASSERT_TRUE(batch);
  ASSERT_EQ(batch->records.size(), 2u);
  const ActivityRecord& write = batch->records[0];
  EXPECT_DOUBLE_EQ(write.first, 1764979200.5);
  EXPECT_EQ(write.root_id, 3);
  EXPECT_EQ(write.path, u"c:\\data\\report.txt");
  EXPECT_EQ(write.kind, 2u);
  EXPECT_EQ(write.pid, 4242u);
  EXPECT_TRUE(write.new_path.empty());
  EXPECT_EQ(write.count, 7u);
  EXPECT_DOUBLE_EQ(write.last, 1764979203.25);
  EXPECT_EQ(batch->records[1].new_path, u"c:\\data\\new.txt");
}

TEST(ActivityLines, an_empty_drain_has_no_records_and_a_wrong_shape_is_counted_not_shown) {
  EXPECT_TRUE(parse_drain("[]")->records.empty());
  const auto batch = parse_drain(R"([[1,2,3],[1,1,"p",1,1,"",1,1],["x",1,"p",1,1,"",1,1]])");
  ASSERT_TRUE(batch);
  EXPECT_EQ(batch->records.size(), 1u);
  EXPECT_EQ(batch->malformed, 2u);
  EXPECT_FALSE(parse_drain("{\"records\":[]}"));
  EXPECT_FALSE(parse_drain("[[1,"));
}

TEST(ActivityLines, every_kind_has_its_word) {
  const char* words[] = {"read",  "write",    "created", "deleted", "renamed",
                         "missing-open", "added", "modified", "removed", "renamed→"};
  for (std::uint32_t kind = 1; kind <= 10; ++kind) EXPECT_EQ(kind_word(kind), words[kind - 1]);
  EXPECT_EQ(kind_word(0), "kind-0");
  EXPECT_EQ(kind_word(11), "kind-11");
}

TEST(ActivityLines, a_line_shows_local_time_kind_pid_path_and_count) {
  ActivityRecord record{1764979200.5, 1, u"c:\\data\\report.txt", 2, 4242, u"", 7, 1764979203.25};
  EXPECT_EQ(activity_line(record, 3600), "01:00:00  write            4242  c:\\data\\report.txt  ×7");
}

TEST(ActivityLines, a_watcher_rename_shows_its_new_path_and_non_ascii_names_come_out_as_utf8) {
  ActivityRecord record{0, 1, u"c:\\d\\old.txt", 10, 0, u"c:\\d\\нов.txt", 1, 0};
  EXPECT_EQ(activity_line(record, 0), "00:00:00  renamed→            0  c:\\d\\old.txt → c:\\d\\нов.txt  ×1");
}

}  // namespace
}  // namespace mirrow::host
