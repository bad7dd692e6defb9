#include "host/capture_check_win.h"

#include <windows.h>

#include "common/unique_handle.h"
#include "common/utf16.h"
#include "host/check_engine_win.h"
#include "host/system_facts_win.h"

namespace mirrow::host {
namespace {

constexpr std::uint32_t kKindWrite = 2, kKindNewFile = 3;
constexpr std::size_t kCaptureLiveSlot = 8, kEventsLostSlot = 11, kBuffersLostSlot = 12;
// The real-time sessions flush every second; a little more lets the last
// buffer arrive before the stop.
constexpr DWORD kFlushWaitMs = 1500;

// Runs cmd.exe to write one file; its process id, or 0 when it did not run.
DWORD write_with_child(const std::u16string& path) {
  wchar_t system[MAX_PATH + 1] = {};
  GetSystemDirectoryW(system, MAX_PATH + 1);
  const std::u16string program = std::u16string(utf16(system)) + u"\\cmd.exe";
  std::u16string command = u"\"" + program + u"\" /d /c \"echo mirrow> \"" + path + u"\"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION created{};
  if (!CreateProcessW(wide(program.c_str()), wide(command.data()), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &startup, &created))
    return 0;
  const UniqueHandle process(created.hProcess);
  const UniqueHandle thread(created.hThread);
  WaitForSingleObject(process.get(), 10000);
  return created.dwProcessId;
}

CaptureEvidence capture_with_child(VantrelLibrary& vantrel) {
  CaptureEvidence evidence;
  ScratchFolder folder;
  CheckEngine engine(vantrel);
  engine.add_root(folder.path());
  evidence.start_status = engine.start(true);
  if (evidence.start_status != 0) return evidence;
  Sleep(1000);
  evidence.capture_live = engine.statistics()[kCaptureLiveSlot] != 0;
  const DWORD child = write_with_child(folder / u"check-capture.txt");
  Sleep(kFlushWaitMs);
  evidence.diagnostics = engine.diagnostics();
  engine.stop();
  const Statistics after = engine.statistics();
  evidence.events_lost = after[kEventsLostSlot];
  evidence.buffers_lost = after[kBuffersLostSlot];
  for (const ActivityRecord& record : engine.drain())
    if (child != 0 && record.pid == child && (record.kind == kKindWrite || record.kind == kKindNewFile) &&
        ends_with(record.path, u"\\check-capture.txt"))
      evidence.child_write_attributed = true;
  return evidence;
}

}  // namespace

CaptureCheck check_capture(VantrelLibrary& vantrel, const Machine& machine) {
  CaptureEvidence evidence;
  std::uint32_t session_status = 0;
  std::vector<std::u16string> left;
  if (!capture_unavailable_reason(machine)) {
    // The engine and its folder are gone before the sessions are listed.
    evidence = capture_with_child(vantrel);
    const TraceSessionList sessions = list_trace_sessions();
    session_status = sessions.status;
    left = engine_session_names(sessions.names);
  }
  return {{judge_capture(machine, evidence), judge_startup_names(machine, evidence),
           judge_session_cleanup(machine, session_status, left)},
          evidence.diagnostics};
}

}  // namespace mirrow::host
