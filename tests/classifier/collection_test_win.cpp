// The real collection and the real verdict environment, run end to end on
// the machine the tests run on (Wine in the build).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "classifier/process_facts.h"
#include "classifier/verdict.h"
#include "common/unique_handle.h"

namespace mirrow {
namespace {

std::u16string own_module_path() {
  wchar_t buffer[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  return std::u16string(utf16(buffer), length);
}

std::u16string file_name_of(const std::u16string& path) {
  return path.substr(path.find_last_of(u'\\') + 1);
}

std::uint64_t creation_time_of(HANDLE process) {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  return (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

bool is_process_critical_available() {
  return GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsProcessCritical") != nullptr;
}

// A copy of this test program, started suspended so that it never runs; it
// is ended when the test ends.
class SuspendedChild {
 public:
  SuspendedChild() {
    std::wstring command = L"\"" + std::wstring(wide(own_module_path().c_str())) + L"\" --gtest_list_tests";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                       nullptr, &startup, &info)) {
      process_.reset(info.hProcess);
      thread_.reset(info.hThread);
      pid_ = info.dwProcessId;
    }
  }
  ~SuspendedChild() {
    if (process_) {
      TerminateProcess(process_.get(), 0);
      WaitForSingleObject(process_.get(), 5000);
    }
  }
  HANDLE handle() const { return process_.get(); }
  std::uint32_t pid() const { return pid_; }

 private:
  UniqueHandle process_;
  UniqueHandle thread_;
  std::uint32_t pid_ = 0;
};

TEST(RealCollection, the_own_process_is_listed_with_the_facts_the_system_gives) {
  const ProcessTable table = collect_process_table();
  const std::uint32_t own_pid = GetCurrentProcessId();
  ASSERT_TRUE(table.contains(own_pid));
  const ProcessFacts& own = table.at(own_pid);
  const std::u16string module = own_module_path();

  EXPECT_EQ(to_lower(own.exe_name), to_lower(file_name_of(module)));
  EXPECT_EQ(to_lower(file_name_of(own.image_path)), to_lower(file_name_of(module)));
  EXPECT_EQ(own.creation_time, creation_time_of(GetCurrentProcess()));
  EXPECT_NE(own.creation_time, 0u);
  DWORD session = 0;
  ASSERT_TRUE(ProcessIdToSessionId(own_pid, &session));
  EXPECT_EQ(own.session_id, session);
  EXPECT_TRUE(own.same_user);
  EXPECT_EQ(own.command_line, u"");
  EXPECT_NE(own.parent_pid, own_pid);
}

TEST(RealCollection, a_started_child_names_this_process_as_parent_and_is_not_older) {
  SuspendedChild child;
  ASSERT_NE(child.pid(), 0u);
  const ProcessTable table = collect_process_table();
  ASSERT_TRUE(table.contains(child.pid()));
  const ProcessFacts& facts = table.at(child.pid());
  EXPECT_EQ(facts.parent_pid, GetCurrentProcessId());
  EXPECT_EQ(facts.creation_time, creation_time_of(child.handle()));
  EXPECT_GE(facts.creation_time, table.at(GetCurrentProcessId()).creation_time);
  EXPECT_TRUE(facts.same_user);
}

TEST(RealCollection, without_is_process_critical_every_process_is_critical_and_unconfirmed) {
  if (is_process_critical_available()) GTEST_SKIP() << "this system answers criticality queries";
  const ProcessTable table = collect_process_table();
  ASSERT_FALSE(table.empty());
  for (const auto& [pid, facts] : table) {
    EXPECT_TRUE(facts.critical) << pid;
    EXPECT_FALSE(facts.critical_known) << pid;
    EXPECT_EQ(protection_reason(facts, table, GetCurrentProcessId()), u"Нет подтверждённых метаданных")
        << pid;
  }
}

// With criticality assumed known, the other rules see the real facts: this
// process has a child, its own verdict (with another anchor and caller id)
// must name it.
TEST(RealCollection, real_facts_of_a_process_with_a_child_lead_to_the_children_rule) {
  SuspendedChild child;
  ASSERT_NE(child.pid(), 0u);
  const ProcessTable table = collect_process_table();
  ProcessFacts own = table.at(GetCurrentProcessId());
  own.critical_known = true;
  own.critical = false;
  VerdictEnvironment environment = current_verdict_environment();
  environment.own_pid = 0;
  EXPECT_EQ(protection_reason(own, table, 0, environment), u"Есть дочерние процессы");
}

TEST(RealCollection, a_visible_window_marks_its_owner) {
  const HWND window = CreateWindowExW(0, L"STATIC", L"classifier test", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                      0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
  if (window == nullptr) GTEST_SKIP() << "no window station to create a window in";
  const ProcessTable table = collect_process_table();
  DestroyWindow(window);
  EXPECT_TRUE(table.at(GetCurrentProcessId()).has_visible_window);
}

TEST(SameUser, the_own_process_and_its_child_run_as_the_same_user) {
  SuspendedChild child;
  ASSERT_NE(child.pid(), 0u);
  EXPECT_TRUE(is_same_user(GetCurrentProcess()));
  EXPECT_TRUE(is_same_user(child.handle()));
}

TEST(SameUser, a_process_whose_token_cannot_be_opened_is_not_the_same_user) {
  EXPECT_FALSE(is_same_user(nullptr));
  UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));  // not a process
  EXPECT_FALSE(is_same_user(event.get()));
}

TEST(VerdictEnvironmentOnWindows, reads_the_own_id_session_and_windows_directory) {
  const VerdictEnvironment environment = current_verdict_environment();
  EXPECT_EQ(environment.own_pid, GetCurrentProcessId());
  DWORD session = 0;
  ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
  EXPECT_EQ(environment.own_session, session);
  wchar_t directory[MAX_PATH] = {};
  const UINT length = GetSystemWindowsDirectoryW(directory, MAX_PATH);
  EXPECT_EQ(environment.windows_directory, std::u16string(utf16(directory), length));
}

TEST(VerdictEnvironmentOnWindows, an_image_in_the_real_windows_directory_is_a_windows_component) {
  const VerdictEnvironment environment = current_verdict_environment();
  ProcessFacts facts;
  facts.pid = 0x7FFFFFF0;
  facts.critical = false;
  facts.critical_known = true;
  facts.creation_time = 1;
  facts.session_id = environment.own_session == 0 ? 1 : environment.own_session;
  facts.same_user = true;
  facts.exe_name = u"notepad.exe";
  facts.image_path = environment.windows_directory + u"\\SYSTEM32\\NOTEPAD.EXE";
  if (environment.own_session == 0) GTEST_SKIP() << "the test runs as a service";
  EXPECT_EQ(protection_reason(facts, ProcessTable{}, 0), u"Компонент Windows");
}

}  // namespace
}  // namespace mirrow
