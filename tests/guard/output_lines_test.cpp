#include "guard/output_lines.h"

#include <gtest/gtest.h>

namespace mirrow::guard {
namespace {

bool plain_ascii(std::string_view line) {
  for (const char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte > 0x7E) return false;
  }
  return true;
}

TEST(OutputLines, refusal_line_carries_the_cyrillic_reason_as_u_escapes) {
  const std::string line = refusal_line(u"Есть видимое окно");
  EXPECT_EQ(line,
            R"({"error":"\u0415\u0441\u0442\u044c \u0432\u0438\u0434\u0438\u043c\u043e\u0435 \u043e\u043a\u043d\u043e"})");
  EXPECT_TRUE(plain_ascii(line));
}

TEST(OutputLines, refusal_line_escapes_quotes_and_backslashes_of_the_reason) {
  EXPECT_EQ(refusal_line(u"a\"b\\c"), R"({"error":"a\"b\\c"})");
}

TEST(OutputLines, status_error_line_prints_the_status_as_signed_decimal) {
  EXPECT_EQ(status_error_line(static_cast<std::int32_t>(0xC000010Au)),
            R"({"error":"NT suspend/resume failed","status":-1073741558})");
  EXPECT_EQ(status_error_line(static_cast<std::int32_t>(0xC0000002u)),
            R"({"error":"NT suspend/resume failed","status":-1073741822})");
}

TEST(OutputLines, final_state_line_follows_the_sign_of_the_resume_status) {
  EXPECT_EQ(final_state_line(EndReason::lease_expired, 0), R"({"state":"resumed","reason":"lease_expired","status":0})");
  EXPECT_EQ(final_state_line(EndReason::target_exited, 259), R"({"state":"resumed","reason":"target_exited","status":259})");
  EXPECT_EQ(final_state_line(EndReason::requested, -1073741558),
            R"({"state":"resume_failed","reason":"requested","status":-1073741558})");
}

TEST(OutputLines, every_end_reason_has_its_fixed_word) {
  EXPECT_EQ(end_reason_word(EndReason::lease_expired), "lease_expired");
  EXPECT_EQ(end_reason_word(EndReason::owner_exited), "owner_exited");
  EXPECT_EQ(end_reason_word(EndReason::target_exited), "target_exited");
  EXPECT_EQ(end_reason_word(EndReason::control_closed), "control_closed");
  EXPECT_EQ(end_reason_word(EndReason::requested), "requested");
  EXPECT_EQ(end_reason_word(EndReason::heartbeat_lost), "heartbeat_lost");
  EXPECT_EQ(end_reason_word(EndReason::guard_error), "guard_error");
}

TEST(OutputLines, self_test_summary_lists_the_four_statuses_in_run_order) {
  EXPECT_EQ(self_test_summary_line({}),
            R"({"own_fixture_only":true,"lease_status":0,"owner_exit_status":0,"requested_status":0,"heartbeat_status":0})");
  const SelfTestStatuses mixed{1, -2, 3, -2147483647 - 1};
  EXPECT_EQ(self_test_summary_line(mixed),
            R"({"own_fixture_only":true,"lease_status":1,"owner_exit_status":-2,"requested_status":3,"heartbeat_status":-2147483648})");
  EXPECT_FALSE(mixed.all_succeeded());
  EXPECT_TRUE((SelfTestStatuses{0, 0, 0, 1}).all_succeeded());
}

TEST(OutputLines, a_line_goes_on_the_wire_with_one_line_feed_and_no_carriage_return) {
  EXPECT_EQ(with_line_feed(kFrozenLine), "{\"state\":\"frozen\"}\n");
  EXPECT_EQ(with_line_feed(""), "\n");
}

}  // namespace
}  // namespace mirrow::guard
