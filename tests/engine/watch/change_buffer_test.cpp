#include "engine/watch/change_buffer.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "support/change_records.h"

namespace mirrow {
namespace {

using testing::change_records;
using testing::put_u32;
using Seen = std::vector<std::pair<std::uint32_t, std::u16string>>;

WalkEnd walk(const std::vector<std::uint8_t>& bytes, Seen& seen, std::size_t size) {
  return walk_change_buffer(bytes.data(), size, [&](std::uint32_t action, std::u16string_view name) {
    seen.emplace_back(action, std::u16string(name));
    return true;
  });
}

WalkEnd walk(const std::vector<std::uint8_t>& bytes, Seen& seen) { return walk(bytes, seen, bytes.size()); }

TEST(ChangeBuffer, hands_out_every_record_in_order_with_names_below_the_watched_directory) {
  const auto bytes = change_records({{1, u"sub\\a.txt"}, {4, u"b"}, {5, u"sub\\deeper\\c.bin"}});
  Seen seen;
  EXPECT_EQ(walk(bytes, seen), WalkEnd::complete);
  EXPECT_EQ(seen, (Seen{{1, u"sub\\a.txt"}, {4, u"b"}, {5, u"sub\\deeper\\c.bin"}}));
}

TEST(ChangeBuffer, reads_names_that_start_at_unaligned_offsets) {
  // Three units of name leave the next record at an offset that is not a
  // multiple of 4 when the writer does not pad.
  std::vector<std::uint8_t> bytes(12 + 6 + 12 + 2, 0);
  put_u32(bytes, 0, 18);
  put_u32(bytes, 4, 1);
  put_u32(bytes, 8, 6);
  std::memcpy(bytes.data() + 12, u"abc", 6);
  put_u32(bytes, 18 + 4, 3);
  put_u32(bytes, 18 + 8, 2);
  std::memcpy(bytes.data() + 30, u"z", 2);
  Seen seen;
  EXPECT_EQ(walk(bytes, seen), WalkEnd::complete);
  EXPECT_EQ(seen, (Seen{{1, u"abc"}, {3, u"z"}}));
}

TEST(ChangeBuffer, accepts_an_empty_name_and_ignores_a_short_tail) {
  auto bytes = change_records({{2, u""}});
  Seen seen;
  EXPECT_EQ(walk(bytes, seen), WalkEnd::complete);
  EXPECT_EQ(seen, (Seen{{2, u""}}));

  Seen none;
  EXPECT_EQ(walk(bytes, none, 11), WalkEnd::complete);
  EXPECT_TRUE(none.empty());
}

TEST(ChangeBuffer, stops_at_a_name_running_past_the_returned_bytes_after_handing_out_earlier_records) {
  auto bytes = change_records({{1, u"first"}, {1, u"second"}});
  Seen seen;
  EXPECT_EQ(walk(bytes, seen, bytes.size() - 4), WalkEnd::malformed);
  EXPECT_EQ(seen, (Seen{{1, u"first"}}));
}

TEST(ChangeBuffer, refuses_an_odd_name_length) {
  auto bytes = change_records({{1, u"ab"}});
  put_u32(bytes, 8, 3);
  Seen seen;
  EXPECT_EQ(walk(bytes, seen), WalkEnd::malformed);
  EXPECT_TRUE(seen.empty());
}

TEST(ChangeBuffer, refuses_a_huge_name_length_without_overflowing_the_bounds_check) {
  auto bytes = change_records({{1, u"ab"}});
  put_u32(bytes, 8, 0xFFFFFFFE);
  Seen seen;
  EXPECT_EQ(walk(bytes, seen), WalkEnd::malformed);
  EXPECT_TRUE(seen.empty());
}

TEST(ChangeBuffer, refuses_next_offsets_below_a_header_or_at_or_past_the_end) {
  for (const std::uint32_t next : {1u, 11u}) {
    auto bytes = change_records({{1, u"a"}, {1, u"b"}});
    put_u32(bytes, 0, next);
    Seen seen;
    EXPECT_EQ(walk(bytes, seen), WalkEnd::malformed) << next;
    EXPECT_EQ(seen.size(), 1u);
  }
  auto bytes = change_records({{1, u"a"}, {1, u"b"}});
  put_u32(bytes, 0, static_cast<std::uint32_t>(bytes.size()));
  Seen seen;
  EXPECT_EQ(walk(bytes, seen), WalkEnd::malformed);
  put_u32(bytes, 0, 0xFFFFFFF0);
  EXPECT_EQ(walk(bytes, seen), WalkEnd::malformed);
}

TEST(ChangeBuffer, stops_when_the_visitor_asks) {
  const auto bytes = change_records({{1, u"a"}, {1, u"b"}});
  int visits = 0;
  EXPECT_EQ(walk_change_buffer(bytes.data(), bytes.size(), [&](std::uint32_t, std::u16string_view) { return ++visits < 1; }),
            WalkEnd::stopped);
  EXPECT_EQ(visits, 1);
}

}  // namespace
}  // namespace mirrow
