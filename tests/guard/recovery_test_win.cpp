// The recovery form on real processes: a counting child frozen by a guard of
// the test build, that guard then killed from outside, and the shipped
// guard's recovery form run on the journal it left behind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "guard/output_lines.h"
#include "guard/recovery.h"
#include "support/child_process_win.h"

namespace mirrow::guard::testing {
namespace {

using ::testing::Optional;

const std::string kRecovered = R"({"state":"resumed","reason":"recovered","status":0})";
const std::string kAbandoned(kTargetGoneLine);


bool freeze_mark_of(const Counter& counter) {
  const std::u16string name = freeze_mark_name(counter.pid(), counter.created());
  return UniqueHandle(OpenMutexW(SYNCHRONIZE, FALSE, reinterpret_cast<const wchar_t*>(name.c_str()))).valid();
}

struct Answer {
  std::optional<DWORD> exit_code;
  std::string output;
};

class Recovery : public ::testing::Test {
 protected:
  // A guard of the test build freezes the counter and reports it.
  std::unique_ptr<PipedProcess> freeze() {
    auto guard = std::make_unique<PipedProcess>(beside_this_program(L"guard_confirming.exe"),
                                                target_arguments(counter_, L"600", journal_));
    EXPECT_THAT(guard->next_line(15000), Optional(std::string(kFrozenLine)));
    EXPECT_TRUE(counter_.stands_still());
    return guard;
  }

  // The guard is killed from outside while the counter is frozen: the
  // counter stays frozen and the journal ends with the frozen line.
  void strand() {
    auto guard = freeze();
    guard->kill();
    ASSERT_TRUE(counter_.stands_still());
    ASSERT_EQ(read_file(journal_), std::string(kFrozenLine) + "\n");
  }

  Answer recover(std::wstring journal, std::wstring ticks = {}, std::wstring image = {}) {
    if (ticks.empty()) ticks = std::to_wstring(counter_.created());
    if (image.empty()) image = counter_.image_path();
    PipedProcess guard(beside_this_program(L"FreezeGuard.exe"),
                       {L"--recover", std::to_wstring(counter_.pid()), ticks, image, journal});
    Answer answer{guard.exit_code(15000), {}};
    answer.output = guard.rest_of_output(1000);
    return answer;
  }

  std::wstring directory_ = fresh_temp_directory(L"guard-recovery");
  std::wstring journal_ = directory_ + L"\\journal.jsonl";
  Counter counter_{directory_};
};

TEST_F(Recovery, a_target_stranded_by_a_killed_guard_counts_again_and_its_journal_ends_recovered) {
  strand();
  const Answer answer = recover(journal_);
  EXPECT_THAT(answer.exit_code, Optional(0u));
  EXPECT_EQ(answer.output, kRecovered + "\n");
  EXPECT_TRUE(counter_.runs());
  EXPECT_EQ(read_file(journal_), std::string(kFrozenLine) + "\n" + kRecovered + "\n");

  // Run again, it finds nothing left to do.
  const Answer again = recover(journal_);
  EXPECT_THAT(again.exit_code, Optional(0u));
  EXPECT_EQ(again.output, std::string(kNothingToRecoverLine) + "\n");
}

TEST_F(Recovery, a_second_guard_on_a_stranded_freeze_refuses_and_one_recovery_lets_the_target_run) {
  strand();
  PipedProcess second(beside_this_program(L"guard_confirming.exe"), target_arguments(counter_, L"600", journal_));
  EXPECT_THAT(second.exit_code(15000), Optional(7u));
  EXPECT_EQ(second.rest_of_output(1000), std::string(kNeedsRecoveryLine) + "\n");
  // Untouched: the killed guard's suspension still stands, and the journal
  // still says so.
  EXPECT_TRUE(counter_.stands_still());
  EXPECT_EQ(read_file(journal_), std::string(kFrozenLine) + "\n");

  const Answer answer = recover(journal_);
  EXPECT_THAT(answer.exit_code, Optional(0u));
  EXPECT_EQ(answer.output, kRecovered + "\n");
  EXPECT_TRUE(counter_.runs());

  // With the stranded freeze recovered, the next guard freezes as usual.
  auto third = freeze();
  third->send("R");
  EXPECT_THAT(third->exit_code(5000), Optional(0u));
  EXPECT_TRUE(counter_.runs());
}

TEST_F(Recovery, the_path_of_the_image_may_differ_in_letter_case) {
  strand();
  std::wstring image = counter_.image_path();
  CharUpperW(image.data());
  EXPECT_THAT(recover(journal_, {}, image).exit_code, Optional(0u));
  EXPECT_TRUE(counter_.runs());
}

TEST_F(Recovery, a_live_guard_holds_the_freeze_mark_and_the_recovery_form_leaves_its_freeze_alone) {
  EXPECT_FALSE(freeze_mark_of(counter_));
  auto guard = freeze();
  EXPECT_TRUE(freeze_mark_of(counter_));

  const Answer answer = recover(journal_);
  EXPECT_THAT(answer.exit_code, Optional(0u));
  EXPECT_EQ(answer.output, std::string(kGuardRunningLine) + "\n");
  EXPECT_TRUE(counter_.stands_still());
  EXPECT_EQ(read_file(journal_), std::string(kFrozenLine) + "\n");

  guard->send("R");
  EXPECT_THAT(guard->exit_code(5000), Optional(0u));
  EXPECT_TRUE(counter_.runs());
  EXPECT_FALSE(freeze_mark_of(counter_));
}

TEST_F(Recovery, a_killed_guard_takes_its_freeze_mark_with_it) {
  auto guard = freeze();
  EXPECT_TRUE(freeze_mark_of(counter_));
  guard->kill();
  EXPECT_FALSE(freeze_mark_of(counter_));
  EXPECT_THAT(recover(journal_).exit_code, Optional(0u));
}

TEST_F(Recovery, an_id_that_names_another_instance_or_image_is_abandoned_and_stays_frozen) {
  strand();
  const Answer other_instance = recover(journal_, std::to_wstring(counter_.created() + 1));
  EXPECT_THAT(other_instance.exit_code, Optional(4u));
  EXPECT_EQ(other_instance.output, kAbandoned + "\n");
  EXPECT_TRUE(counter_.stands_still());
  EXPECT_EQ(read_file(journal_), std::string(kFrozenLine) + "\n" + kAbandoned + "\n");

  write_file(journal_, std::string(kFrozenLine) + "\n");
  const Answer other_image = recover(journal_, {}, counter_.image_path() + L".old");
  EXPECT_THAT(other_image.exit_code, Optional(4u));
  EXPECT_EQ(other_image.output, kAbandoned + "\n");
  EXPECT_TRUE(counter_.stands_still());
}

TEST_F(Recovery, a_child_that_has_ended_is_abandoned) {
  strand();
  TerminateProcess(counter_.process(), 0);
  ASSERT_EQ(WaitForSingleObject(counter_.process(), 5000), WAIT_OBJECT_0);
  const Answer answer = recover(journal_);
  EXPECT_THAT(answer.exit_code, Optional(4u));
  EXPECT_EQ(answer.output, kAbandoned + "\n");
  EXPECT_EQ(read_file(journal_), std::string(kFrozenLine) + "\n" + kAbandoned + "\n");
}

TEST_F(Recovery, a_missing_empty_or_finished_journal_is_nothing_to_recover_and_the_target_stays_frozen) {
  strand();
  const std::wstring empty = directory_ + L"\\empty.jsonl";
  const std::wstring finished = directory_ + L"\\finished.jsonl";
  const std::wstring carriage_return = directory_ + L"\\crlf.jsonl";
  write_file(empty, "");
  write_file(finished, std::string(kFrozenLine) + "\n" + R"({"state":"resumed","reason":"requested","status":0})" + "\n");
  write_file(carriage_return, std::string(kFrozenLine) + "\r\n");
  for (const std::wstring& journal : {directory_ + L"\\missing.jsonl", empty, finished, carriage_return, std::wstring()}) {
    const Answer answer = recover(journal);
    EXPECT_THAT(answer.exit_code, Optional(0u));
    EXPECT_EQ(answer.output, std::string(kNothingToRecoverLine) + "\n");
  }
  EXPECT_TRUE(counter_.stands_still());
  EXPECT_EQ(read_file(empty), "");
  EXPECT_EQ(GetFileAttributesW((directory_ + L"\\missing.jsonl").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Recovery, a_journal_whose_frozen_line_lacks_its_line_feed_is_recovered_on_a_line_of_its_own) {
  strand();
  const std::wstring bare = directory_ + L"\\bare.jsonl";
  write_file(bare, "{\"earlier\":1}\n" + std::string(kFrozenLine));
  EXPECT_THAT(recover(bare).exit_code, Optional(0u));
  EXPECT_TRUE(counter_.runs());
  EXPECT_EQ(read_file(bare), "{\"earlier\":1}\n" + std::string(kFrozenLine) + "\n" + kRecovered + "\n");
}

}  // namespace
}  // namespace mirrow::guard::testing
