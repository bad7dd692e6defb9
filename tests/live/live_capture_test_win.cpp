// Live capture on the real system: attribution of a child's file work, the
// engine's trace sessions after every way an engine ends, and capture
// refused without administrator rights. Each case skips under Wine, which
// has no real-time tracing, and without elevation where it needs rights.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/api/configuration.h"
#include "engine/api/engine_win.h"
#include "host/system_facts_win.h"
#include "support/child_process_win.h"
#include "tests/host/mirrowctl_run_win.h"
#include "tests/live/live_support_win.h"
#include "support/temp_dir_win.h"

namespace mirrow::live {
namespace {

using ::testing::HasSubstr;
using testing::Engine;
using testing::TempDir;
using testing::vantrel;

constexpr const char* kNoTracing = "real-time tracing";
// The real-time sessions flush every second; a little more lets the last
// buffer arrive before the stop.
constexpr DWORD kFlushWaitMs = 1500;

bool has_record(const std::vector<host::ActivityRecord>& records, std::uint32_t kind, DWORD pid) {
  for (const host::ActivityRecord& record : records)
    if (record.kind == kind && record.pid == pid) return true;
  return false;
}

TEST(LiveCapture, a_child_process_file_work_is_attributed_to_it_and_own_reads_are_not_reported) {
  LIVE_SKIP_UNLESS_POSSIBLE(kNoTracing, true);
  TempDir temp;
  const std::wstring root = long_form(temp.path());
  Engine engine;
  ASSERT_EQ(vantrel().vt_root(engine, 1, root.c_str(), 0), 0u);
  vantrel().vt_missing(engine, (root + L"\\absent.txt").c_str());
  ASSERT_EQ(vantrel().vt_start(engine, 1, 1), 0u) << vantrel().vt_error();
  Sleep(1000);
  EXPECT_EQ(statistics(engine)[kCaptureLive], 1u);

  // This process reads a file under the root itself: the engine skips it.
  {
    const std::wstring own_file = root + L"\\own.txt";
    HANDLE file = CreateFileW(own_file.c_str(), GENERIC_WRITE | GENERIC_READ, 0, nullptr, CREATE_ALWAYS,
                              FILE_FLAG_WRITE_THROUGH, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    char buffer[16] = "own";
    DWORD moved = 0;
    WriteFile(file, buffer, sizeof buffer, &moved, nullptr);
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    ReadFile(file, buffer, sizeof buffer, &moved, nullptr);
    CloseHandle(file);
  }
  const auto child =
      run_to_end(testing::beside_this_program(L"live_test_child.exe"), {L"activity", root}, 30000);
  ASSERT_TRUE(child.has_value());
  ASSERT_EQ(child->exit_code, 0u) << child->output;
  Sleep(kFlushWaitMs);
  EXPECT_EQ(statistics(engine)[kCaptureLive], 1u);
  const host::JsonValue running = diagnostics(engine);

  vantrel().vt_stop(engine);
  const auto after = statistics(engine);
  EXPECT_EQ(after[kEventsLost], 0u);
  EXPECT_EQ(after[kBuffersLost], 0u);
  EXPECT_TRUE(running["system_names_enabled"].boolean) << running["system_names_error"].literal;
  EXPECT_GT(running["manifest_names"].as_u64().value_or(0), 0u);

  const auto records = drain_all(engine);
  for (std::uint32_t kind = 1; kind <= 6; ++kind)
    EXPECT_TRUE(has_record(records, kind, child->pid)) << "no record of kind " << kind << " for the child";
  EXPECT_FALSE(has_record(records, 1, GetCurrentProcessId())) << "a read of this process was reported";
}

TEST(LiveSessions, no_engine_session_is_left_after_a_stop_a_destroy_or_a_start_that_fails_half_way) {
  LIVE_SKIP_UNLESS_POSSIBLE(kNoTracing, true);
  ASSERT_THAT(engine_sessions(), ::testing::IsEmpty()) << "left over before the test:" << listed(engine_sessions());
  {
    Engine engine;
    ASSERT_EQ(vantrel().vt_start(engine, 1, 0), 0u) << vantrel().vt_error();
    EXPECT_EQ(engine_sessions().size(), 1u) << "while capturing:" << listed(engine_sessions());
    vantrel().vt_stop(engine);
    EXPECT_THAT(engine_sessions(), ::testing::IsEmpty()) << "after vt_stop:" << listed(engine_sessions());
  }
  {
    vt_engine* engine = vantrel().vt_create();
    ASSERT_EQ(vantrel().vt_start(engine, 1, 0), 0u) << vantrel().vt_error();
    vantrel().vt_destroy(engine);
    EXPECT_THAT(engine_sessions(), ::testing::IsEmpty()) << "after vt_destroy:" << listed(engine_sessions());
  }
}

// The real tracing calls, except one step that fails after the capture
// session has started in the kernel.
struct HalfWayCalls {
  static ULONG WINAPI refuse_enable(TRACEHANDLE, LPCGUID, ULONG, UCHAR, ULONGLONG, ULONGLONG, ULONG,
                                    PENABLE_TRACE_PARAMETERS) {
    return ERROR_INVALID_FUNCTION;
  }
  static TRACEHANDLE WINAPI refuse_open(PEVENT_TRACE_LOGFILEW logfile) {
    // The names session opens as usual; the capture session's open fails.
    if (wcsncmp(logfile->LoggerName, L"VextrumMirrowNative-", 20) != 0) return OpenTraceW(logfile);
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return ~TRACEHANDLE{0};
  }
  static TraceCalls with(decltype(TraceCalls::enable_trace) enable, decltype(TraceCalls::open_trace) open) {
    TraceCalls calls = system_trace_calls();
    if (enable != nullptr) calls.enable_trace = enable;
    if (open != nullptr) calls.open_trace = open;
    return calls;
  }
};

TEST(LiveSessions, a_capture_session_whose_enable_or_consumer_fails_is_stopped_in_the_kernel) {
  LIVE_SKIP_UNLESS_POSSIBLE(kNoTracing, true);
  const TraceCalls refused_enable = HalfWayCalls::with(&HalfWayCalls::refuse_enable, nullptr);
  const TraceCalls refused_open = HalfWayCalls::with(nullptr, &HalfWayCalls::refuse_open);
  for (const auto& [calls, status] : {std::pair{&refused_enable, DWORD(ERROR_INVALID_FUNCTION)},
                                      std::pair{&refused_open, DWORD(ERROR_NOT_ENOUGH_QUOTA)}}) {
    mirrow::Engine* engine = create_engine();
    ASSERT_NE(engine, nullptr);
    engine->capture.calls = calls;
    EXPECT_EQ(start_engine(*engine, true, false), status);
    EXPECT_THAT(engine_sessions(), ::testing::IsEmpty()) << "after a failed start:" << listed(engine_sessions());
    destroy_engine(engine);
  }
}

TEST(LiveSessions, a_start_stops_the_sessions_of_an_engine_whose_process_was_killed) {
  LIVE_SKIP_UNLESS_POSSIBLE(kNoTracing, true);
  guard::testing::PipedProcess child(testing::beside_this_program(L"live_test_child.exe"), {L"capture"});
  ASSERT_TRUE(child.started());
  const auto started = child.next_line(30000);
  ASSERT_EQ(started, std::optional<std::string>("started 0"));
  const auto orphans = engine_sessions();
  ASSERT_FALSE(orphans.empty()) << "the child's capture session is not listed";
  for (const std::u16string& session : orphans)
    EXPECT_FALSE(host::trace_session_orphaned(session)) << "its owner is alive";
  child.kill();
  ASSERT_TRUE(child.exit_code(10000).has_value());
  // A killed process cannot stop its sessions: they outlive it, and their
  // ownership marks are gone with it.
  EXPECT_EQ(engine_sessions(), orphans);
  for (const std::u16string& session : orphans)
    EXPECT_TRUE(host::trace_session_orphaned(session)) << "its owner was killed";

  Engine engine;
  ASSERT_EQ(vantrel().vt_start(engine, 1, 0), 0u) << vantrel().vt_error();
  for (const std::u16string& orphan : orphans)
    EXPECT_THAT(engine_sessions(), ::testing::Not(::testing::Contains(orphan))) << "still listed after a start";
  vantrel().vt_stop(engine);
  EXPECT_THAT(engine_sessions(), ::testing::IsEmpty()) << "after vt_stop:" << listed(engine_sessions());
  stop_sessions(orphans);
}

TEST(LiveRights, without_administrator_rights_capture_is_refused_and_the_watchers_run_on) {
  LIVE_SKIP_UNLESS_POSSIBLE(kNoTracing, true);
  const UniqueHandle token(token_without_administrators());
  ASSERT_TRUE(token.valid()) << "CreateRestrictedToken failed: " << GetLastError();
  // The copy, and the mirrowctl.exe and Vantrel.dll it uses, are read from
  // this folder under the restricted token. A folder that grants read and
  // execute to administrators alone (as a work folder made by an elevated
  // process may) would fail the copy without a word of why.
  for (const wchar_t* name : {L"live_windows_tests.exe", L"mirrowctl.exe", L"Vantrel.dll"})
    if (const auto reason = cannot_read_and_execute(token.get(), testing::beside_this_program(name)))
      GTEST_SKIP() << *reason << "; grant read and execute on this folder to the Users group "
                   << "(icacls FOLDER /grant *S-1-5-32-545:(OI)(CI)RX)";
  const auto copy = run_to_end(testing::beside_this_program(L"live_windows_tests.exe"),
                               {L"--gtest_also_run_disabled_tests", L"--gtest_filter=LiveRightsCopy.*"}, 120000,
                               token.get());
  ASSERT_TRUE(copy.has_value()) << "the restricted copy did not start: " << GetLastError();
  EXPECT_EQ(copy->exit_code, 0u) << copy->output;
  EXPECT_THAT(copy->output, HasSubstr("[  PASSED  ] 1 test")) << copy->output;
}

// Runs only in the restricted copy that the case above starts.
TEST(LiveRightsCopy, DISABLED_capture_returns_5_while_the_watchers_keep_running) {
  LIVE_SKIP_UNLESS_POSSIBLE(kNoTracing, false);
  TempDir root;
  {
    Engine engine;
    ASSERT_EQ(vantrel().vt_root(engine, 1, root.path().c_str(), 0), 0u);
    EXPECT_EQ(vantrel().vt_start(engine, 1, 0), 5u);
    EXPECT_EQ(statistics(engine)[kWatchersHealthy], 1u);
    EXPECT_THAT(engine_sessions(), ::testing::IsEmpty());
    EXPECT_TRUE(new_file_reported(engine, root / L"seen.txt")) << "the watcher did not report the new file";
  }
  const host::testing::Outcome watch = host::testing::run_mirrowctl(
      {L"watch", root.path(), L"--seconds", L"1", L"--capture"});
  EXPECT_EQ(watch.exit_code, 0u) << watch.err;
  EXPECT_THAT(watch.err, HasSubstr("needs administrator rights"));
}

}  // namespace
}  // namespace mirrow::live
