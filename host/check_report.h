#pragma once
// mirrowctl check: the judgement of each area from what the libraries and
// the system answered, and the report as lines or as one JSON object. Pure,
// so every judgement is tested natively; check_command_win.cpp gathers the
// evidence.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mirrow::host {

enum class CheckResult { passed, failed, unavailable };

struct CheckLine {
  std::string area;    // "watcher", "capture and attribution", ...
  CheckResult result = CheckResult::failed;
  std::string reason;  // UTF-8, one sentence without a full stop
};

// "passed", "failed", "unavailable".
std::string_view result_word(CheckResult result);

// One line per area ("AREA  RESULT  reason"), then
// "summary: N passed, M failed, K unavailable".
std::string check_text(const std::vector<CheckLine>& lines);

// {"checks":[{"area":..,"result":..,"reason":..},...],"passed":N,"failed":M,"unavailable":K}
std::string check_json(const std::vector<CheckLine>& lines);

// The same with one more member, "capture_diagnostics": the engine's
// diagnostics document from the capture check as it came, or null when
// capture did not run (an empty document) or the document is no JSON object.
std::string check_json(const std::vector<CheckLine>& lines, std::string_view capture_diagnostics);

// "capture diagnostics: " and that document (or null, as above), for the
// end of the text report.
std::string capture_diagnostics_text(std::string_view capture_diagnostics);

// 0 when no line failed, 1 otherwise.
int check_exit_code(const std::vector<CheckLine>& lines);

// Why capture cannot be tried here, or nothing when it can.
struct Machine {
  bool wine = false;
  bool elevated = false;
};
std::optional<std::string> capture_unavailable_reason(const Machine& machine);

// The names among `sessions` that start with one of the engine's two
// session prefixes.
std::vector<std::u16string> engine_session_names(const std::vector<std::u16string>& sessions);

// What one capture run showed: the start status, the health flags read while
// it ran, the diagnostics document, and whether the drained records held
// the file made by a child process under that child's process id.
struct CaptureEvidence {
  std::uint32_t start_status = 0;
  bool capture_live = false;
  std::uint64_t events_lost = 0;
  std::uint64_t buffers_lost = 0;
  bool child_write_attributed = false;
  std::string diagnostics;
};

// Once capture started, the reason ends with the diagnostics' "unsupported"
// and "malformed" counts when they are not zero, whatever the result.
CheckLine judge_capture(const Machine& machine, const CaptureEvidence& evidence);
// From the same run: whether the startup names session ran and stopped cleanly.
CheckLine judge_startup_names(const Machine& machine, const CaptureEvidence& evidence);

// An engine trace session found running before the check starts its own
// capture, and whether its ownership mark is gone (its host ended while
// capturing, and the session will run until a start with capture stops it).
struct FoundSession {
  std::u16string name;
  bool orphaned = false;
};
// `status`: the session query's status (0 when it answered). Fails when any
// session has no owner, naming each.
CheckLine judge_trace_sessions(std::uint32_t status, const std::vector<FoundSession>& sessions);

// `status`: the session query's status (0 when it answered); `left`: the
// engine's sessions still present after its engine stopped.
CheckLine judge_session_cleanup(const Machine& machine, std::uint32_t status, const std::vector<std::u16string>& left);

// The snapshot report: it reads, this process is listed with a refusal, and
// csrss.exe (when listed) gets the critical verdict. Without administrator
// rights the facts of csrss.exe may stay unconfirmed; that is not a failure.
CheckLine judge_snapshot(const Machine& machine, std::string_view snapshot, std::uint32_t own_pid);

// The crash-event report: a JSON array whose objects carry no "error"
// member. On Wine, which has no event log, an error object is unavailable.
CheckLine judge_crash_events(const Machine& machine, std::string_view report);

}  // namespace mirrow::host
