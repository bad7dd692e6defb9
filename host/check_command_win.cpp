// mirrowctl check: a quick look at every area on the machine it runs on,
// one line each with passed, failed or unavailable and the reason.
#include <windows.h>

#include <functional>
#include <vector>

#include "common/clock.h"
#include "common/scope_exit.h"
#include "common/utf16.h"
#include "host/activity_lines.h"
#include "host/capture_check_win.h"
#include "host/check_engine_win.h"
#include "host/check_report.h"
#include "host/commands_win.h"
#include "host/console_win.h"
#include "host/guard_dialogue.h"
#include "host/guard_process_win.h"
#include "host/json_value.h"
#include "host/libraries_win.h"
#include "host/process_reports.h"
#include "host/scan_tally.h"
#include "host/system_facts_win.h"

namespace mirrow::host {
namespace {

constexpr std::uint32_t kKindAdded = 7;

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
  std::string capture_diagnostics;
  run("capture", [&] {
    CaptureCheck capture = check_capture(*vantrel, machine);
    for (CheckLine& line : capture.lines) lines.push_back(std::move(line));
    capture_diagnostics = std::move(capture.diagnostics);
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

  if (request.json)
    write_out((request.diagnostics ? check_json(lines, capture_diagnostics) : check_json(lines)) + "\n");
  else
    write_out(check_text(lines) + (request.diagnostics ? capture_diagnostics_text(capture_diagnostics) : ""));
  return check_exit_code(lines) == 0 ? kExitOk : kExitFailed;
}

}  // namespace mirrow::host
