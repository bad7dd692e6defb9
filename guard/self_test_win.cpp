#include <chrono>
#include <thread>

#include "common/scope_exit.h"
#include "common/unique_handle.h"
#include "guard/exit_codes.h"
#include "guard/freeze_lifecycle.h"
#include "guard/guard_program.h"
#include "guard/guard_win.h"
#include "guard/output_lines.h"

namespace mirrow::guard {
namespace {

constexpr DWORD kModulePathCapacity = 32768;
constexpr std::uint32_t kSelfTestLeaseSeconds = 1;
constexpr std::uint32_t kLongLeaseSeconds = 600;
constexpr std::uint32_t kShortHeartbeatMs = 150;
constexpr DWORD kFixtureExitWaitMs = 5000;

struct Fixture {
  UniqueHandle process;
  UniqueHandle thread;
  // Kills the fixture when the last handle to the job closes, so a guard
  // that dies mid-run never leaves its fixture suspended behind it.
  UniqueHandle job;
};

std::wstring own_executable_path() {
  std::wstring path(kModulePathCapacity, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), kModulePathCapacity);
  path.resize(length < kModulePathCapacity ? length : 0);
  return path;
}

UniqueHandle kill_on_close_job() {
  UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
  if (!job) return job;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits)) job.reset();
  return job;
}

// The child starts suspended so that it is inside the job before it runs a
// single instruction; without a job it still runs, only less well guarded.
bool start_fixture(Fixture& fixture) {
  const std::wstring path = own_executable_path();
  if (path.empty()) return false;
  std::wstring command_line = L"\"" + path + L"\" --fixture";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION created{};
  if (!CreateProcessW(path.c_str(), command_line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW | CREATE_SUSPENDED,
                      nullptr, nullptr, &startup, &created)) {
    return false;
  }
  fixture.process.reset(created.hProcess);
  fixture.thread.reset(created.hThread);
  fixture.job = kill_on_close_job();
  if (fixture.job && !AssignProcessToJobObject(fixture.job.get(), fixture.process.get())) fixture.job.reset();
  ResumeThread(fixture.thread.get());
  return true;
}

// Signals the owner stand-in from a second thread 100 ms into the run.
NtStatus owner_exit_run(HANDLE fixture, HANDLE owner_event) {
  std::thread signaller;
  try {
    signaller = std::thread([owner_event] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      SetEvent(owner_event);
    });
  } catch (...) {
    // No thread: the owner is gone before the run, which then reports it.
    SetEvent(owner_event);
  }
  const NtStatus status = freeze_under_lease(fixture, owner_event, kLongLeaseSeconds, u"", kHeartbeatTimeoutMs);
  if (signaller.joinable()) signaller.join();
  return status;
}

// The control pipe of the runs: its read end stands in as standard input
// while the runs last, the guard keeps the write end.
struct ControlPipe {
  UniqueHandle read_end;
  UniqueHandle write_end;
};

ControlPipe inheritable_pipe() {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  ControlPipe pipe;
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (CreatePipe(&read_end, &write_end, &inheritable, 0)) {
    pipe.read_end.reset(read_end);
    pipe.write_end.reset(write_end);
  }
  return pipe;
}

SelfTestStatuses four_runs(HANDLE fixture, HANDLE owner_event, HANDLE control_write_end) {
  SelfTestStatuses statuses;
  statuses.lease = freeze_under_lease(fixture, owner_event, kSelfTestLeaseSeconds, u"", kHeartbeatTimeoutMs);
  statuses.owner_exit = owner_exit_run(fixture, owner_event);
  ResetEvent(owner_event);
  // The request byte goes in only now, so the first two runs never see input.
  const char request = static_cast<char>(kResumeRequestByte);
  DWORD written = 0;
  WriteFile(control_write_end, &request, 1, &written, nullptr);
  statuses.requested = freeze_under_lease(fixture, owner_event, kLongLeaseSeconds, u"", kHeartbeatTimeoutMs);
  statuses.heartbeat = freeze_under_lease(fixture, owner_event, kLongLeaseSeconds, u"", kShortHeartbeatMs);
  return statuses;
}

}  // namespace

void run_fixture() {
  for (;;) Sleep(1000);
}

int run_self_test() {
  Fixture fixture;
  if (!start_fixture(fixture)) return kExitFixtureNotStarted;
  const UniqueHandle owner_event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  const ControlPipe control = inheritable_pipe();

  SelfTestStatuses statuses;
  {
    // However the runs end, standard input is given back and then the
    // fixture is ended, before anything is reported.
    auto end_fixture = scope_exit([&fixture] {
      TerminateProcess(fixture.process.get(), 0);
      WaitForSingleObject(fixture.process.get(), kFixtureExitWaitMs);
    });
    const HANDLE original_input = GetStdHandle(STD_INPUT_HANDLE);
    SetStdHandle(STD_INPUT_HANDLE, control.read_end.get());
    auto restore_input = scope_exit([original_input] { SetStdHandle(STD_INPUT_HANDLE, original_input); });
    statuses = four_runs(fixture.process.get(), owner_event.get(), control.write_end.get());
  }

  write_output_line(self_test_summary_line(statuses));
  return statuses.all_succeeded() ? kExitFrozenAndResumed : kExitSelfTestRunFailed;
}

}  // namespace mirrow::guard
