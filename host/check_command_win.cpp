// mirrowctl check: a quick look at every area on the machine it runs on,
// one line each with passed, failed or unavailable and the reason.
#include <windows.h>

#include <functional>
#include <vector>

#include "common/clock.h"
#include "common/scope_exit.h"
#include "common/unique_handle.h"
#include "common/utf16.h"
#include "host/activity_lines.h"
#include "host/check_report.h"
#include "host/commands_win.h"
#include "host/console_win.h"
#include "host/engine_health.h"
#include "host/guard_dialogue.h"
#include "host/guard_process_win.h"
#include "host/json_value.h"
#include "host/libraries_win.h"
#include "host/process_reports.h"
#include "host/scan_tally.h"
#include "host/system_facts_win.h"

namespace mirrow::host {
namespace {

constexpr std::uint32_t kKindWrite = 2, kKindNewFile = 3, kKindAdded = 7;
constexpr std::size_t kCaptureLiveSlot = 8, kEventsLostSlot = 11, kBuffersLostSlot = 12;
// The real-time sessions flush every second; a little more lets the last
// buffer arrive before the stop.
constexpr DWORD kFlushWaitMs = 1500;

// A fresh folder under the temporary directory, removed with its contents.
class ScratchFolder {
 public:
  ScratchFolder() {
    wchar_t base[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, base);
    static unsigned serial = 0;
    path_ = std::u16string(utf16(base)) + u"mirrowctl-check-" + utf16_number(GetCurrentProcessId()) + u"-" +
            utf16_number(GetTickCount64()) + u"-" + utf16_number(++serial);
    CreateDirectoryW(wide(path_.c_str()), nullptr);
    // The temporary directory may be given in its short (8.3) form; the
    // kernel names files by their long names.
    std::vector<wchar_t> long_form(32768);
    const DWORD length = GetLongPathNameW(wide(path_.c_str()), long_form.data(), static_cast<DWORD>(long_form.size()));
    if (length != 0 && length < long_form.size()) path_.assign(utf16(long_form.data()), length);
  }
  ~ScratchFolder() { remove_tree(path_); }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::u16string& path() const { return path_; }
  std::u16string operator/(std::u16string_view name) const { return path_ + u"\\" + std::u16string(name); }

 private:
  static std::u16string utf16_number(std::uint64_t value) { return utf16_from_utf8(std::to_string(value)); }

  static void remove_tree(const std::u16string& folder) {
    WIN32_FIND_DATAW entry;
    const HANDLE find = FindFirstFileW(wide((folder + u"\\*").c_str()), &entry);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::u16string name(utf16(entry.cFileName));
        if (name == u"." || name == u"..") continue;
        const std::u16string full = folder + u"\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) remove_tree(full);
        else DeleteFileW(wide(full.c_str()));
      } while (FindNextFileW(find, &entry));
      FindClose(find);
    }
    RemoveDirectoryW(wide(folder.c_str()));
  }

  std::u16string path_;
};

bool write_file(const std::u16string& path, std::string_view bytes) {
  const UniqueHandle file(CreateFileW(wide(path.c_str()), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

bool ends_with(const std::u16string& text, std::u16string_view tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// One engine for the length of a check.
class CheckEngine {
 public:
  explicit CheckEngine(VantrelLibrary& vantrel) : vantrel_(vantrel), engine_(vantrel.vt_create()) {}
  ~CheckEngine() {
    if (engine_ != nullptr) vantrel_.vt_destroy(engine_);
  }
  CheckEngine(const CheckEngine&) = delete;
  CheckEngine& operator=(const CheckEngine&) = delete;

  bool created() const { return engine_ != nullptr; }
  bool add_root(const std::u16string& path) { return vantrel_.vt_root(engine_, 1, wide(path.c_str()), 0) == 0; }
  std::uint32_t start(bool capture) { return vantrel_.vt_start(engine_, capture ? 1 : 0, 0); }
  void stop() { vantrel_.vt_stop(engine_); }

  Statistics statistics() const { return engine_statistics(vantrel_, engine_); }
  std::string diagnostics() const { return engine_diagnostics(vantrel_, engine_); }

  // Every record drained until a batch comes back empty (or unreadable).
  std::vector<ActivityRecord> drain() {
    std::vector<ActivityRecord> records;
    for (int batch = 0; batch < 1000; ++batch) {
      std::uint64_t length = 0;
      const char* text = vantrel_.vt_drain(engine_, &length);
      const auto parsed = text == nullptr ? std::nullopt : parse_drain(std::string_view(text, length));
      if (!parsed || parsed->records.empty()) break;
      records.insert(records.end(), parsed->records.begin(), parsed->records.end());
    }
    return records;
  }

 private:
  VantrelLibrary& vantrel_;
  vt_engine* engine_;
};

CheckLine check_watcher(VantrelLibrary& vantrel) {
  const std::string area = "watcher";
  ScratchFolder folder;
  CheckEngine engine(vantrel);
  if (!engine.created() || !engine.add_root(folder.path()))
    return {area, CheckResult::failed, "the engine could not be set up"};
  if (const std::uint32_t status = engine.start(false); status != 0)
    return {area, CheckResult::failed, "the watcher did not start (error " + std::to_string(status) + ")"};
  if (!write_file(folder / u"check-watch.txt", "mirrow"))
    return {area, CheckResult::failed, "the check could not write its file"};
  const std::uint64_t deadline = tick_ms() + 5000;
  while (tick_ms() < deadline) {
    Sleep(200);
    for (const ActivityRecord& record : engine.drain())
      if (record.kind == kKindAdded && ends_with(record.path, u"\\check-watch.txt"))
        return {area, CheckResult::passed, "a file made in the watched folder was reported"};
  }
  return {area, CheckResult::failed, "a file made in the watched folder was not reported within 5 s"};
}

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

// Listed before the check's own capture starts, whose sweep would stop the
// orphans before they could be named.
CheckLine check_trace_sessions() {
  const TraceSessionList listed = list_trace_sessions();
  std::vector<FoundSession> found;
  for (std::u16string& name : engine_session_names(listed.names)) {
    const bool orphaned = trace_session_orphaned(name);
    found.push_back({std::move(name), orphaned});
  }
  return judge_trace_sessions(listed.status, found);
}

std::vector<CheckLine> check_capture(VantrelLibrary& vantrel, const Machine& machine) {
  CaptureEvidence evidence;
  std::uint32_t session_status = 0;
  std::vector<std::u16string> left;
  if (!capture_unavailable_reason(machine)) {
    ScratchFolder folder;
    {
      CheckEngine engine(vantrel);
      engine.add_root(folder.path());
      evidence.start_status = engine.start(true);
      if (evidence.start_status == 0) {
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
      }
    }
    const TraceSessionList sessions = list_trace_sessions();
    session_status = sessions.status;
    left = engine_session_names(sessions.names);
  }
  return {judge_capture(machine, evidence), judge_startup_names(machine, evidence),
          judge_session_cleanup(machine, session_status, left)};
}

CheckLine check_scanner(VantrelLibrary& vantrel) {
  const std::string area = "scanner";
  ScratchFolder folder;
  CreateDirectoryW(wide((folder / u"inner").c_str()), nullptr);
  if (!write_file(folder / u"inner\\one.bin", std::string(1000, 'x')) || !write_file(folder / u"two.bin", std::string(234, 'y')))
    return {area, CheckResult::failed, "the check could not write its files"};
  vt_scanner* scanner = vantrel.vt_scan_create(wide(folder.path().c_str()));
  if (scanner == nullptr) return {area, CheckResult::failed, "the scanner could not be created"};
  const auto destroy = scope_exit([&] { vantrel.vt_scan_destroy(scanner); });
  ScanTally tally(folder.path(), 1);
  for (int step = 0; step < 1000 && !tally.done(); ++step) {
    std::uint64_t length = 0;
    const char* batch = vantrel.vt_scan_next(scanner, &length);
    if (batch != nullptr) tally.add_batch(std::string_view(batch, length));
  }
  if (tally.done() && tally.files() == 2 && tally.bytes() == 1234 && tally.errors() == 0)
    return {area, CheckResult::passed, "a tree of 2 files and 1234 bytes was counted exactly"};
  return {area, CheckResult::failed, "a tree of 2 files and 1234 bytes was counted as " + std::to_string(tally.files()) +
                                         " files and " + std::to_string(tally.bytes()) + " bytes"};
}

std::optional<std::string> report_of(const char*(WINAPI* report)(std::uint64_t*)) {
  std::uint64_t length = 0;
  const char* text = report(&length);
  if (text == nullptr) return std::nullopt;
  return std::string(text, length);
}

CheckLine check_memory(TelvynLibrary& telvyn) {
  const std::string area = "memory";
  const auto report = report_of(telvyn.tl_memory);
  const auto document = report ? parse_json(*report) : std::nullopt;
  if (!document || !memory_table(*report)) return {area, CheckResult::failed, "the memory report could not be read"};
  if ((*document)["system_available"].as_u64() != 1u)
    return {area, CheckResult::failed, "the system's memory figures are unavailable"};
  return {area, CheckResult::passed, std::to_string((*document)["processes"].items.size()) + " processes with their memory"};
}

CheckLine check_load(TelvynLibrary& telvyn) {
  const std::string area = "load";
  std::optional<std::string> line;
  for (int sample = 0; sample < 2; ++sample) {
    if (sample != 0) Sleep(500);
    const auto report = report_of(telvyn.tl_load);
    line = report ? load_line(*report) : std::nullopt;
    if (!line) return {area, CheckResult::failed, "the load report could not be read"};
  }
  return {area, CheckResult::passed, *line};
}

CheckLine check_guard() {
  const std::string area = "guard self-test";
  DWORD error = 0;
  auto guard = GuardProcess::start(beside_program(u"FreezeGuard.exe"), {u"--self-test"}, error);
  if (!guard) return {area, CheckResult::failed, "FreezeGuard.exe could not start (error " + std::to_string(error) + ")"};
  const auto code = guard->exit_code(60000);
  if (!code) return {area, CheckResult::failed, "the self-test did not end within 60 s"};
  if (*code == 0) return {area, CheckResult::passed, "the guard froze and resumed its own helper"};
  return {area, CheckResult::failed, describe_guard_exit(*code) + " (exit code " + std::to_string(*code) + ")"};
}

}  // namespace

int run_check(const Request& request) {
  std::string problem;
  const auto vantrel = load_vantrel(problem);
  if (!vantrel) return fail_with(kExitMissingLibrary, problem);
  const auto telvyn = load_telvyn(problem);
  if (!telvyn) return fail_with(kExitMissingLibrary, problem);

  const Machine machine{running_under_wine(), process_is_elevated()};
  std::vector<CheckLine> lines;
  const auto run = [&](const char* area, const std::function<void()>& check) {
    if (!request.json) write_err(std::string("checking ") + area + "\n");
    check();
  };
  run("watcher", [&] { lines.push_back(check_watcher(*vantrel)); });
  run("trace sessions", [&] { lines.push_back(check_trace_sessions()); });
  run("capture", [&] {
    for (CheckLine& line : check_capture(*vantrel, machine)) lines.push_back(std::move(line));
  });
  run("scanner", [&] { lines.push_back(check_scanner(*vantrel)); });
  run("snapshot", [&] {
    const auto snapshot = report_of(telvyn->tl_snapshot);
    lines.push_back(judge_snapshot(machine, snapshot.value_or(""), GetCurrentProcessId()));
  });
  run("memory", [&] { lines.push_back(check_memory(*telvyn)); });
  run("load", [&] { lines.push_back(check_load(*telvyn)); });
  run("crash events", [&] { lines.push_back(judge_crash_events(machine, report_of(telvyn->tl_crashes).value_or(""))); });
  run("guard", [&] { lines.push_back(check_guard()); });

  write_out(request.json ? check_json(lines) + "\n" : check_text(lines));
  return check_exit_code(lines) == 0 ? kExitOk : kExitFailed;
}

}  // namespace mirrow::host
