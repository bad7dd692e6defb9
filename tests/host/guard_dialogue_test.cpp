#include "host/guard_dialogue.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace mirrow::host {
namespace {

using ::testing::ElementsAre;
using ::testing::Optional;

constexpr const char* kSnapshot =
    R"({"wmi_status":0,"processes":[)"
    R"({"pid":4,"parent":0,"session":0,"created":"0","name":"System","path":"","cli":"","ui":0,"same_user":0,"protected":"x"},)"
    R"({"pid":4242,"parent":100,"session":1,"created":"133790000000000001","name":"note.exe","path":"C:\\Apps\\note.exe",)"
    R"("cli":"","ui":0,"same_user":1,"protected":""}]})";

TEST(GuardDialogue, the_target_identity_comes_from_the_snapshot_exactly_as_reported) {
  const TargetLookup lookup = find_freeze_target(kSnapshot, 4242);
  ASSERT_TRUE(lookup.target);
  EXPECT_EQ(lookup.target->created, 133790000000000001ull);
  EXPECT_EQ(lookup.target->path, u"C:\\Apps\\note.exe");
  EXPECT_THAT(guard_arguments(*lookup.target, 30, u""),
              ElementsAre(u"4242", u"133790000000000001", u"30", u"C:\\Apps\\note.exe", u""));
}

TEST(GuardDialogue, a_missing_process_or_one_without_identity_is_not_handed_to_the_guard) {
  EXPECT_EQ(find_freeze_target(kSnapshot, 7).problem, "no process with id 7");
  EXPECT_EQ(find_freeze_target(kSnapshot, 4).problem, "process 4 has no readable creation time or image path");
  EXPECT_EQ(find_freeze_target("oops", 4).problem, "the process snapshot could not be read");
}

TEST(GuardDialogue, guard_lines_become_sentences_with_the_reason_in_utf8) {
  EXPECT_EQ(describe_guard_line(R"({"state":"frozen"})"), "frozen");
  EXPECT_EQ(describe_guard_line(R"({"state":"resumed","reason":"lease_expired","status":0})"),
            "resumed (the lease expired), status 0");
  EXPECT_EQ(describe_guard_line(R"({"state":"resume_failed","reason":"requested","status":-1073741823})"),
            "RESUME FAILED (resume requested), status -1073741823");
  EXPECT_EQ(describe_guard_line(
                R"({"error":"\u041d\u0435\u0442 \u043f\u043e\u0434\u0442\u0432\u0435\u0440\u0436\u0434\u0451\u043d\u043d\u044b\u0445 \u043c\u0435\u0442\u0430\u0434\u0430\u043d\u043d\u044b\u0445"})"),
            "refused: Нет подтверждённых метаданных");
  EXPECT_EQ(describe_guard_line(R"({"error":"Cannot pin original process handle"})"),
            "error: Cannot pin original process handle");
  EXPECT_EQ(describe_guard_line(R"({"error":"NT suspend/resume failed","status":-1073741558})"),
            "NT suspend/resume failed, status -1073741558");
  EXPECT_EQ(describe_guard_line(R"({"state":"guard_running"})"), "refused: another guard holds this process frozen");
  EXPECT_EQ(describe_guard_line(R"({"state":"needs_recovery"})"),
            "refused: the journal ends with the freeze of a guard that is gone; recover it first");
  EXPECT_EQ(describe_guard_line("not json"), "not json");
  EXPECT_EQ(describe_guard_line(R"({"unknown":1})"), R"({"unknown":1})");
}

TEST(GuardDialogue, the_self_test_summary_passes_only_when_all_four_statuses_are_non_negative) {
  EXPECT_THAT(describe_self_test_summary(R"({"own_fixture_only":true,"lease_status":0,"owner_exit_status":0,)"
                                         R"("requested_status":0,"heartbeat_status":0})"),
              Optional(std::string("self-test passed: lease 0, owner exit 0, requested 0, heartbeat 0")));
  EXPECT_THAT(describe_self_test_summary(R"({"own_fixture_only":true,"lease_status":0,"owner_exit_status":-5,)"
                                         R"("requested_status":0,"heartbeat_status":0})"),
              Optional(std::string("self-test FAILED: lease 0, owner exit -5, requested 0, heartbeat 0")));
  EXPECT_FALSE(describe_self_test_summary(R"({"state":"frozen"})"));
  EXPECT_EQ(describe_guard_exit(3), "the guard refused to freeze this process");
}

TEST(GuardDialogue, command_line_quoting_survives_spaces_quotes_trailing_backslashes_and_empty_arguments) {
  EXPECT_EQ(windows_command_line(u"C:\\Program Files\\g.exe", {u"1", u"", u"C:\\a b\\", u"say \"hi\"", u"a\\\\\"b"}),
            u"\"C:\\Program Files\\g.exe\" \"1\" \"\" \"C:\\a b\\\\\" \"say \\\"hi\\\"\" \"a\\\\\\\\\\\"b\"");
}

}  // namespace
}  // namespace mirrow::host
