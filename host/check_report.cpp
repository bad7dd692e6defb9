#include "host/check_report.h"

#include <algorithm>

#include "common/json_writer.h"
#include "common/trace_session_owner.h"
#include "common/utf16.h"
#include "host/json_value.h"
#include "host/text_table.h"

namespace mirrow::host {
namespace {

constexpr std::u16string_view kCriticalVerdict = u"Критический / собственный процесс";
constexpr std::u16string_view kUnconfirmedVerdict = u"Нет подтверждённых метаданных";

CheckLine line(std::string area, CheckResult result, std::string reason) {
  return CheckLine{std::move(area), result, std::move(reason)};
}

std::size_t count_of(const std::vector<CheckLine>& lines, CheckResult result) {
  return static_cast<std::size_t>(
      std::count_if(lines.begin(), lines.end(), [result](const CheckLine& l) { return l.result == result; }));
}

std::string summary_counts(const std::vector<CheckLine>& lines) {
  return std::to_string(count_of(lines, CheckResult::passed)) + " passed, " +
         std::to_string(count_of(lines, CheckResult::failed)) + " failed, " +
         std::to_string(count_of(lines, CheckResult::unavailable)) + " unavailable";
}

// The document as it came when it is one JSON object, so that it can stand
// inside another JSON text; null otherwise.
std::string embeddable(std::string_view document) {
  const auto value = parse_json(document);
  return value && value->is_object() ? std::string(document) : std::string("null");
}

const JsonValue* process_named(const JsonValue& processes, std::u16string_view name) {
  for (const JsonValue& process : processes.items)
    if (process["name"].as_text() == name) return &process;
  return nullptr;
}

// "; the engine counted 2 unsupported and 1 malformed events" when either
// count of the capture's diagnostics is not zero, and nothing otherwise. A
// file event of a version the engine does not take shows up there before
// anything else does, so the capture line carries it whatever its result.
std::string counted_bad_events(std::string_view diagnostics) {
  const auto document = parse_json(diagnostics);
  if (!document || !document->is_object()) return {};
  std::string counted;
  for (const char* name : {"unsupported", "malformed"}) {
    const std::uint64_t count = (*document)[name].as_u64().value_or(0);
    if (count == 0) continue;
    counted += (counted.empty() ? "" : " and ") + std::to_string(count) + " " + name;
  }
  return counted.empty() ? counted : "; the engine counted " + counted + " events";
}

const JsonValue* process_with_pid(const JsonValue& processes, std::uint32_t pid) {
  for (const JsonValue& process : processes.items)
    if (process["pid"].as_u64() == pid) return &process;
  return nullptr;
}

}  // namespace

std::string_view result_word(CheckResult result) {
  switch (result) {
    case CheckResult::passed: return "passed";
    case CheckResult::failed: return "failed";
    case CheckResult::unavailable: return "unavailable";
  }
  return "failed";
}

std::string check_text(const std::vector<CheckLine>& lines) {
  TextTable table({{"AREA"}, {"RESULT"}, {"REASON"}});
  for (const CheckLine& l : lines) table.add_row({l.area, std::string(result_word(l.result)), l.reason});
  return table.render() + "summary: " + summary_counts(lines) + "\n";
}

std::string check_json(const std::vector<CheckLine>& lines) {
  std::string out;
  JsonWriter json(out);
  json.begin_object().key("checks").begin_array();
  for (const CheckLine& l : lines) {
    json.begin_object()
        .key("area").text(utf16_from_utf8(l.area))
        .key("result").word(result_word(l.result))
        .key("reason").text(utf16_from_utf8(l.reason))
        .end_object();
  }
  json.end_array()
      .key("passed").u64(count_of(lines, CheckResult::passed))
      .key("failed").u64(count_of(lines, CheckResult::failed))
      .key("unavailable").u64(count_of(lines, CheckResult::unavailable))
      .end_object();
  return out;
}

std::string check_json(const std::vector<CheckLine>& lines, std::string_view capture_diagnostics) {
  std::string out = check_json(lines);
  // The writer has no value for a ready-made document: it goes in before
  // the object's closing brace.
  out.pop_back();
  return out + ",\"capture_diagnostics\":" + embeddable(capture_diagnostics) + "}";
}

std::string capture_diagnostics_text(std::string_view capture_diagnostics) {
  return "capture diagnostics: " + embeddable(capture_diagnostics) + "\n";
}

int check_exit_code(const std::vector<CheckLine>& lines) { return count_of(lines, CheckResult::failed) == 0 ? 0 : 1; }

std::optional<std::string> capture_unavailable_reason(const Machine& machine) {
  if (machine.wine) return "no real-time tracing on Wine";
  if (!machine.elevated) return "not elevated: live tracing needs administrator rights";
  return std::nullopt;
}

std::vector<std::u16string> engine_session_names(const std::vector<std::u16string>& sessions) {
  std::vector<std::u16string> names;
  for (const std::u16string& session : sessions)
    if (is_engine_session_name(session)) names.push_back(session);
  return names;
}

CheckLine judge_capture(const Machine& machine, const CaptureEvidence& evidence) {
  const std::string area = "capture and attribution";
  if (const auto reason = capture_unavailable_reason(machine)) return line(area, CheckResult::unavailable, *reason);
  if (evidence.start_status != 0)
    return line(area, CheckResult::failed, "the capture session did not start (error " +
                                               std::to_string(evidence.start_status) + ")");
  const std::string counted = counted_bad_events(evidence.diagnostics);
  if (!evidence.capture_live)
    return line(area, CheckResult::failed, "the capture thread was not in its event loop" + counted);
  if (evidence.events_lost != 0 || evidence.buffers_lost != 0)
    return line(area, CheckResult::failed, std::to_string(evidence.events_lost) + " events and " +
                                               std::to_string(evidence.buffers_lost) + " buffers lost" + counted);
  if (!evidence.child_write_attributed)
    return line(area, CheckResult::failed, "the file a child process made was not attributed to it" + counted);
  return line(area, CheckResult::passed, "a file made by a child process was attributed to its process id" + counted);
}

CheckLine judge_startup_names(const Machine& machine, const CaptureEvidence& evidence) {
  const std::string area = "startup names";
  if (const auto reason = capture_unavailable_reason(machine)) return line(area, CheckResult::unavailable, *reason);
  const auto document = parse_json(evidence.diagnostics);
  if (!document || !document->is_object())
    return line(area, CheckResult::failed, "the engine's diagnostics could not be read");
  const JsonValue& enabled = (*document)["system_names_enabled"];
  if (enabled.kind == JsonValue::Kind::boolean && enabled.boolean)
    return line(area, CheckResult::passed,
                "the names session ran and stopped; " + (*document)["classic_names"].literal + " names seen");
  return line(area, CheckResult::failed,
              "the names session did not stop cleanly (error " + (*document)["system_names_error"].literal + ")");
}

CheckLine judge_trace_sessions(std::uint32_t status, const std::vector<FoundSession>& sessions) {
  const std::string area = "trace sessions";
  if (status != 0)
    return line(area, CheckResult::unavailable, "the trace sessions cannot be listed (error " + std::to_string(status) + ")");
  if (sessions.empty()) return line(area, CheckResult::passed, "no engine trace session is running");
  std::size_t orphans = 0;
  std::string names;
  for (const FoundSession& session : sessions) {
    names += " " + utf8_from_utf16(session.name) + (session.orphaned ? " (no owner)" : " (owner alive)");
    if (session.orphaned) ++orphans;
  }
  const std::string counts = std::to_string(sessions.size()) + " engine sessions, " + std::to_string(orphans) +
                             " without an owner";
  if (orphans == 0) return line(area, CheckResult::passed, counts + ":" + names);
  return line(area, CheckResult::failed,
              counts + " (their host ended while capturing; the next start with capture stops them):" + names);
}

CheckLine judge_session_cleanup(const Machine& machine, std::uint32_t status, const std::vector<std::u16string>& left) {
  const std::string area = "session clean-up";
  if (const auto reason = capture_unavailable_reason(machine)) return line(area, CheckResult::unavailable, *reason);
  if (status != 0)
    return line(area, CheckResult::unavailable, "the trace sessions cannot be listed (error " + std::to_string(status) + ")");
  if (left.empty()) return line(area, CheckResult::passed, "no engine session is left after the engine stopped");
  std::string names;
  for (const std::u16string& name : left) names += " " + utf8_from_utf16(name);
  return line(area, CheckResult::failed, std::to_string(left.size()) + " engine sessions left:" + names);
}

CheckLine judge_snapshot(const Machine& machine, std::string_view snapshot, std::uint32_t own_pid) {
  const std::string area = "snapshot and verdicts";
  const auto report = parse_json(snapshot);
  if (!report || !(*report)["processes"].is_array())
    return line(area, CheckResult::failed, "the process snapshot could not be read");
  const JsonValue& processes = (*report)["processes"];
  const JsonValue* own = process_with_pid(processes, own_pid);
  if (own == nullptr) return line(area, CheckResult::failed, "this process is missing from the snapshot");
  if ((*own)["protected"].as_text().empty())
    return line(area, CheckResult::failed, "this process was cleared for freezing");
  const std::string counted = std::to_string(processes.items.size()) + " processes";
  if (machine.wine)
    return line(area, CheckResult::passed, counted + "; every verdict refuses on Wine, which cannot say what is critical");
  const JsonValue* csrss = process_named(processes, u"csrss.exe");
  if (csrss == nullptr) return line(area, CheckResult::failed, counted + " but no csrss.exe");
  const std::u16string& verdict = (*csrss)["protected"].as_text();
  if (verdict == kCriticalVerdict) return line(area, CheckResult::passed, counted + "; csrss.exe is critical");
  if (verdict == kUnconfirmedVerdict && !machine.elevated)
    return line(area, CheckResult::passed, counted + "; csrss.exe unconfirmed (not elevated)");
  return line(area, CheckResult::failed, "csrss.exe did not get the critical verdict");
}

CheckLine judge_crash_events(const Machine& machine, std::string_view report) {
  const std::string area = "crash events";
  const auto events = parse_json(report);
  if (!events || !events->is_array()) return line(area, CheckResult::failed, "the crash report could not be read");
  for (const JsonValue& event : events->items) {
    if (event["error"].is_null()) continue;
    const std::string failure =
        "the " + utf8_from_utf16(event["channel"].as_text()) + " log cannot be read (error " + event["error"].literal + ")";
    return line(area, machine.wine ? CheckResult::unavailable : CheckResult::failed,
                machine.wine ? "no event log on Wine" : failure);
  }
  return line(area, CheckResult::passed, std::to_string(events->items.size()) + " recent crash or shutdown events");
}

}  // namespace mirrow::host
