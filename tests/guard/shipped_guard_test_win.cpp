// The shipped FreezeGuard.exe, started the way a host starts it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "guard/output_lines.h"
#include "support/child_process_win.h"

#include <tlhelp32.h>

namespace mirrow::guard::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::Optional;

std::wstring shipped_guard() { return mirrow::testing::freeze_guard_path(); }

bool plain_ascii_lines(std::string_view output) {
  for (const char c : output) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte != '\n' && (byte < 0x20 || byte > 0x7E)) return false;
  }
  return true;
}

class ShippedGuard : public ::testing::Test {
 protected:
  std::wstring directory_ = fresh_temp_directory(L"guard-shipped");
};

TEST_F(ShippedGuard, self_test_prints_its_nine_lines_and_exits_zero) {
  PipedProcess guard(shipped_guard(), {L"--self-test"});
  ASSERT_TRUE(guard.started());
  ASSERT_THAT(guard.exit_code(30000), Optional(0u));
  const std::string output = guard.rest_of_output(1000);
  EXPECT_EQ(output,
            "{\"state\":\"frozen\"}\n{\"state\":\"resumed\",\"reason\":\"lease_expired\",\"status\":0}\n"
            "{\"state\":\"frozen\"}\n{\"state\":\"resumed\",\"reason\":\"owner_exited\",\"status\":0}\n"
            "{\"state\":\"frozen\"}\n{\"state\":\"resumed\",\"reason\":\"requested\",\"status\":0}\n"
            "{\"state\":\"frozen\"}\n{\"state\":\"resumed\",\"reason\":\"heartbeat_lost\",\"status\":0}\n"
            "{\"own_fixture_only\":true,\"lease_status\":0,\"owner_exit_status\":0,\"requested_status\":0,"
            "\"heartbeat_status\":0}\n");
}

TEST_F(ShippedGuard, anything_but_five_arguments_or_an_exact_special_form_is_an_argument_count_error) {
  for (const auto& arguments : std::vector<std::vector<std::wstring>>{{}, {L"--Fixture"}, {L"--self-test", L"x"},
                                                                      {L"1", L"2", L"3", L"4"}}) {
    PipedProcess guard(shipped_guard(), arguments);
    EXPECT_THAT(guard.exit_code(10000), Optional(2u));
    EXPECT_EQ(guard.rest_of_output(1000), std::string(kWrongArgumentCountLine) + "\n");
  }
}

TEST_F(ShippedGuard, a_real_process_is_refused_for_want_of_confirmed_metadata_and_keeps_running) {
  Counter counter(directory_);
  ASSERT_TRUE(counter.runs());
  PipedProcess guard(shipped_guard(), target_arguments(counter, L"30", directory_ + L"\\journal.txt"));
  EXPECT_THAT(guard.exit_code(10000), Optional(3u));
  const std::string output = guard.rest_of_output(1000);
  EXPECT_EQ(output, refusal_line(u"Нет подтверждённых метаданных") + "\n");
  EXPECT_TRUE(plain_ascii_lines(output));
  EXPECT_TRUE(counter.runs());
  EXPECT_EQ(GetFileAttributesW((directory_ + L"\\journal.txt").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(ShippedGuard, a_bad_lease_or_an_unknown_pid_is_invalid_rather_than_refused) {
  Counter counter(directory_);
  std::vector<std::vector<std::wstring>> cases{target_arguments(counter, L"0"), target_arguments(counter, L"601")};
  auto unknown_pid = target_arguments(counter, L"30");
  unknown_pid[0] = L"4294967290";
  cases.push_back(unknown_pid);
  for (const auto& arguments : cases) {
    PipedProcess guard(shipped_guard(), arguments);
    EXPECT_THAT(guard.exit_code(10000), Optional(2u));
    EXPECT_EQ(guard.rest_of_output(1000), std::string(kInvalidIdentityLine) + "\n");
  }
}

TEST_F(ShippedGuard, creation_ticks_off_by_one_are_refused_as_a_changed_instance) {
  Counter counter(directory_);
  auto arguments = target_arguments(counter, L"30");
  arguments[1] = std::to_wstring(counter.created() + 1);
  PipedProcess guard(shipped_guard(), arguments);
  EXPECT_THAT(guard.exit_code(10000), Optional(3u));
  EXPECT_EQ(guard.rest_of_output(1000), refusal_line(u"Экземпляр процесса изменился") + "\n");
}

TEST_F(ShippedGuard, the_fixture_runs_silently_until_it_is_killed) {
  PipedProcess fixture(shipped_guard(), {L"--fixture"});
  EXPECT_EQ(fixture.exit_code(1500), std::nullopt);
  fixture.kill();
  EXPECT_EQ(fixture.rest_of_output(500), "");
}

// Children of `parent` running the same image as the guard (Wine may add a
// console host of its own).
std::vector<DWORD> fixtures_of(DWORD parent) {
  std::vector<DWORD> children;
  const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ParentProcessID == parent && lstrcmpiW(entry.szExeFile, L"FreezeGuard.exe") == 0) {
      children.push_back(entry.th32ProcessID);
    }
  }
  return children;
}

TEST_F(ShippedGuard, a_guard_killed_during_its_self_test_takes_its_frozen_fixture_with_it) {
  PipedProcess guard(shipped_guard(), {L"--self-test"});
  ASSERT_THAT(guard.next_line(10000), Optional(std::string(kFrozenLine)));
  const std::vector<DWORD> children = fixtures_of(guard.pid());
  ASSERT_EQ(children.size(), 1u);
  const UniqueHandle fixture(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, children[0]));
  ASSERT_TRUE(fixture.valid());
  guard.kill();
  EXPECT_EQ(WaitForSingleObject(fixture.get(), 5000), WAIT_OBJECT_0);
  TerminateProcess(fixture.get(), 0);  // a leaked fixture would outlive the test run
}

}  // namespace
}  // namespace mirrow::guard::testing
