// The guard past the verdict: every ending of a real freeze of a real child
// process, and the journal. The guard under test is the shipped program flow
// and lifecycle over process facts with confirmed criticality.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "classifier/process_facts.h"
#include "guard/output_lines.h"
#include "support/child_process_win.h"

namespace mirrow::guard::testing {
namespace {

using ::testing::Optional;

std::wstring confirming_guard() { return beside_this_program(L"guard_confirming.exe"); }

std::string final_line(std::string_view reason, int status = 0) {
  return std::string(R"({"state":")") + (status >= 0 ? "resumed" : "resume_failed") + R"(","reason":")" +
         std::string(reason) + R"(","status":)" + std::to_string(status) + "}";
}

class GuardFreeze : public ::testing::Test {
 protected:
  // Starts the guard on the counter and waits until it reports the freeze
  // and the counter has really stopped.
  void freeze(PipedProcess& guard) {
    ASSERT_TRUE(guard.started());
    ASSERT_THAT(guard.next_line(15000), Optional(std::string(kFrozenLine)));
    ASSERT_TRUE(counter_.stands_still());
  }

  void expect_resumed_with(PipedProcess& guard, std::string_view reason, DWORD within_ms = 5000) {
    EXPECT_THAT(guard.next_line(within_ms), Optional(final_line(reason)));
    EXPECT_THAT(guard.exit_code(5000), Optional(0u));
    EXPECT_TRUE(counter_.runs());
  }

  // The journal holds exactly the frozen line and then the final line.
  void expect_journal_of_one_freeze(const std::wstring& journal, std::string_view reason) {
    EXPECT_EQ(read_file(journal), std::string(kFrozenLine) + "\n" + final_line(reason) + "\n");
  }

  std::wstring directory_ = fresh_temp_directory(L"guard-freeze");
  std::wstring journal_ = directory_ + L"\\journal.txt";
  Counter counter_{directory_};
};

TEST_F(GuardFreeze, an_r_on_the_control_pipe_resumes_the_target) {
  PipedProcess guard(confirming_guard(), target_arguments(counter_, L"600"));
  freeze(guard);
  guard.send("..R");
  expect_resumed_with(guard, "requested");
}

TEST_F(GuardFreeze, heartbeats_keep_the_freeze_until_the_host_asks) {
  PipedProcess guard(confirming_guard(), target_arguments(counter_, L"600"));
  freeze(guard);
  for (int i = 0; i < 5; ++i) {
    guard.send(".");
    Sleep(100);
  }
  EXPECT_TRUE(counter_.stands_still());
  guard.send("R");
  expect_resumed_with(guard, "requested");
}

TEST_F(GuardFreeze, closing_the_control_pipe_resumes_the_target) {
  PipedProcess guard(confirming_guard(), target_arguments(counter_, L"600", journal_));
  freeze(guard);
  guard.close_input();
  expect_resumed_with(guard, "control_closed");
  expect_journal_of_one_freeze(journal_, "control_closed");
}

TEST_F(GuardFreeze, the_lease_running_out_resumes_the_target) {
  PipedProcess guard(confirming_guard(), target_arguments(counter_, L"1"));
  freeze(guard);
  expect_resumed_with(guard, "lease_expired", 3000);
}

TEST_F(GuardFreeze, the_host_being_killed_resumes_the_target) {
  // The host holds neither end of the pipes, so only its death can end this.
  std::vector<std::wstring> host_arguments{L"host", confirming_guard()};
  for (const std::wstring& argument : target_arguments(counter_, L"600", journal_)) host_arguments.push_back(argument);
  PipedProcess host(beside_this_program(L"guard_test_child.exe"), host_arguments);
  freeze(host);
  host.kill();
  EXPECT_THAT(host.next_line(5000), Optional(final_line("owner_exited")));
  EXPECT_TRUE(counter_.runs());
  expect_journal_of_one_freeze(journal_, "owner_exited");
}

TEST_F(GuardFreeze, a_target_that_ends_while_frozen_ends_the_freeze) {
  PipedProcess guard(confirming_guard(), target_arguments(counter_, L"600", journal_));
  freeze(guard);
  TerminateProcess(counter_.process(), 7);
  const std::optional<std::string> last = guard.next_line(5000);
  ASSERT_TRUE(last.has_value());
  EXPECT_THAT(*last, ::testing::HasSubstr(R"("reason":"target_exited")"));
  const bool resumed = last->starts_with(R"({"state":"resumed")");
  EXPECT_THAT(guard.exit_code(5000), Optional(resumed ? 0u : 5u));
  EXPECT_EQ(read_file(journal_), std::string(kFrozenLine) + "\n" + *last + "\n");
}

TEST_F(GuardFreeze, a_journal_directory_removed_while_frozen_loses_only_the_final_journal_line) {
  const std::wstring journal_directory = directory_ + L"\\journal-directory";
  const std::wstring journal = journal_directory + L"\\journal.txt";
  ASSERT_TRUE(CreateDirectoryW(journal_directory.c_str(), nullptr));
  PipedProcess guard(confirming_guard(), target_arguments(counter_, L"600", journal));
  freeze(guard);
  EXPECT_EQ(read_file(journal), std::string(kFrozenLine) + "\n");
  ASSERT_TRUE(DeleteFileW(journal.c_str()));
  ASSERT_TRUE(RemoveDirectoryW(journal_directory.c_str()));
  guard.send("R");
  expect_resumed_with(guard, "requested");
  EXPECT_EQ(GetFileAttributesW(journal_directory.c_str()), INVALID_FILE_ATTRIBUTES);
}

// A second suspension would be undone by neither guard if the first were
// killed, and the first guard's "resumed" would then be written while the
// target still stands still; so only one guard at a time holds a target.
TEST_F(GuardFreeze, a_second_guard_on_a_frozen_target_refuses_and_the_first_resume_lets_it_run) {
  PipedProcess first(confirming_guard(), target_arguments(counter_, L"600", journal_));
  freeze(first);
  PipedProcess second(confirming_guard(), target_arguments(counter_, L"600", journal_));
  EXPECT_THAT(second.exit_code(15000), Optional(6u));
  EXPECT_EQ(second.rest_of_output(1000), std::string(kGuardRunningLine) + "\n");
  EXPECT_TRUE(counter_.stands_still());

  first.send("R");
  expect_resumed_with(first, "requested");
  expect_journal_of_one_freeze(journal_, "requested");
}

TEST_F(GuardFreeze, the_journal_gains_both_lines_after_what_it_held_before) {
  const std::wstring journal = directory_ + L"\\journal.txt";
  write_file(journal, "{\"earlier\":1}\n");
  PipedProcess guard(confirming_guard(), target_arguments(counter_, L"600", journal));
  freeze(guard);
  EXPECT_EQ(read_file(journal), "{\"earlier\":1}\n{\"state\":\"frozen\"}\n");
  guard.send("R");
  expect_resumed_with(guard, "requested");
  EXPECT_EQ(read_file(journal), "{\"earlier\":1}\n{\"state\":\"frozen\"}\n" + final_line("requested") + "\n");
}

TEST_F(GuardFreeze, a_journal_that_cannot_be_opened_changes_nothing_else) {
  const std::wstring journal = directory_ + L"\\missing\\journal.txt";
  PipedProcess guard(confirming_guard(), target_arguments(counter_, L"600", journal));
  freeze(guard);
  guard.send("R");
  expect_resumed_with(guard, "requested");
  EXPECT_EQ(GetFileAttributesW((directory_ + L"\\missing").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(GuardFreeze, the_whole_output_is_plain_ascii_with_bare_line_feeds) {
  PipedProcess guard(confirming_guard(), target_arguments(counter_, L"600"));
  ASSERT_TRUE(guard.started());
  Sleep(500);
  guard.send("R");
  ASSERT_THAT(guard.exit_code(15000), Optional(0u));
  EXPECT_EQ(guard.rest_of_output(1000), std::string(kFrozenLine) + "\n" + final_line("requested") + "\n");
  EXPECT_TRUE(counter_.runs());
}

TEST_F(GuardFreeze, the_guards_own_parent_is_refused_as_critical_or_own) {
  std::vector<std::wstring> arguments{std::to_wstring(GetCurrentProcessId()),
                                      std::to_wstring(creation_ticks_of(GetCurrentProcess())), L"30",
                                      image_path_of(GetCurrentProcess()), L""};
  PipedProcess guard(confirming_guard(), arguments);
  EXPECT_THAT(guard.exit_code(10000), Optional(3u));
  EXPECT_EQ(guard.rest_of_output(1000), refusal_line(u"Критический / собственный процесс") + "\n");
}

TEST_F(GuardFreeze, a_target_path_that_differs_only_in_letter_case_is_accepted) {
  auto arguments = target_arguments(counter_, L"600");
  CharUpperW(arguments[3].data());
  PipedProcess guard(confirming_guard(), arguments);
  freeze(guard);
  guard.send("R");
  expect_resumed_with(guard, "requested");
}

}  // namespace
}  // namespace mirrow::guard::testing
