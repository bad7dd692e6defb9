#include "host/guard_dialogue.h"

#include "common/utf16.h"
#include "host/json_value.h"

namespace mirrow::host {
namespace {

std::string reason_sentence(std::u16string_view word) {
  if (word == u"lease_expired") return "the lease expired";
  if (word == u"owner_exited") return "the host went away";
  if (word == u"target_exited") return "the target ended";
  if (word == u"control_closed") return "the control pipe closed";
  if (word == u"requested") return "resume requested";
  if (word == u"heartbeat_lost") return "the heartbeat stopped";
  if (word == u"guard_error") return "an error inside the guard";
  return utf8_from_utf16(word);
}

}  // namespace

std::u16string decimal16(std::uint64_t value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

TargetLookup find_freeze_target(std::string_view snapshot, std::uint32_t pid) {
  const auto report = parse_json(snapshot);
  if (!report || !(*report)["processes"].is_array()) return {std::nullopt, "the process snapshot could not be read"};
  for (const JsonValue& process : (*report)["processes"].items) {
    if (process["pid"].as_u64() != pid) continue;
    const auto created = process["created"].as_u64();
    if (!created || *created == 0 || process["path"].as_text().empty())
      return {std::nullopt, "process " + std::to_string(pid) + " has no readable creation time or image path"};
    return {FreezeTarget{pid, *created, process["path"].as_text(), process["name"].as_text(),
                         process["protected"].as_text()},
            {}};
  }
  return {std::nullopt, "no process with id " + std::to_string(pid)};
}

std::vector<std::u16string> guard_arguments(const FreezeTarget& target, std::uint32_t lease,
                                            const std::u16string& journal) {
  return {decimal16(target.pid), decimal16(target.created), decimal16(lease), target.path, journal};
}

std::string describe_guard_line(std::string_view line) {
  const auto value = parse_json(line);
  if (!value || !value->is_object()) return std::string(line);
  const JsonValue& state = (*value)["state"];
  if (state.as_text() == u"frozen") return "frozen";
  if (state.as_text() == u"guard_running") return "refused: another guard holds this process frozen";
  if (state.as_text() == u"needs_recovery")
    return "refused: the journal ends with the freeze of a guard that is gone; recover it first";
  if (!state.is_null()) {
    const std::string status = (*value)["status"].literal;
    const std::string word = state.as_text() == u"resumed" ? "resumed" : "RESUME FAILED";
    return word + " (" + reason_sentence((*value)["reason"].as_text()) + "), status " + status;
  }
  const std::u16string& error = (*value)["error"].as_text();
  if (!(*value)["status"].is_null()) return utf8_from_utf16(error) + ", status " + (*value)["status"].literal;
  if (error == u"Invalid identity or lease" || error == u"Cannot pin original process handle" ||
      error.starts_with(u"Expected "))
    return "error: " + utf8_from_utf16(error);
  if (!error.empty()) return "refused: " + utf8_from_utf16(error);
  if (!(*value)["own_fixture_only"].is_null()) return describe_self_test_summary(line).value_or(std::string(line));
  return std::string(line);
}

namespace {

void append_quoted(std::u16string& out, std::u16string_view argument) {
  out += u'"';
  std::size_t backslashes = 0;
  for (const char16_t c : argument) {
    if (c == u'\\') {
      ++backslashes;
      continue;
    }
    // Back-slashes before a quote are doubled and the quote escaped; elsewhere they stand as they are.
    out.append(c == u'"' ? backslashes * 2 + 1 : backslashes, u'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, u'\\');  // before the closing quote
  out += u'"';
}

}  // namespace

std::u16string windows_command_line(std::u16string_view program, const std::vector<std::u16string>& arguments) {
  std::u16string line;
  append_quoted(line, program);
  for (const auto& argument : arguments) {
    line += u' ';
    append_quoted(line, argument);
  }
  return line;
}

std::string describe_guard_exit(std::uint32_t code) {
  switch (code) {
    case 0: return "the process was frozen and resumed";
    case 1: return "the guard failed unexpectedly before touching the process";
    case 2: return "the guard rejected the identity or lease";
    case 3: return "the guard refused to freeze this process";
    case 4: return "the guard could not pin the process";
    case 5: return "suspending or resuming failed";
    case 6: return "another guard holds this process frozen";
    case 7: return "a freeze left by a killed guard must be recovered first";
    case 10: return "self-test: the helper child could not be started";
    case 11: return "self-test: at least one run failed";
    default: return "the guard ended with code " + std::to_string(code);
  }
}

std::optional<std::string> describe_self_test_summary(std::string_view line) {
  const auto value = parse_json(line);
  if (!value || !value->is_object() || (*value)["own_fixture_only"].is_null()) return std::nullopt;
  std::string out;
  bool passed = true;
  for (const auto& [key, label] : {std::pair{"lease_status", "lease"}, std::pair{"owner_exit_status", "owner exit"},
                                   std::pair{"requested_status", "requested"},
                                   std::pair{"heartbeat_status", "heartbeat"}}) {
    const auto status = (*value)[key].as_i64();
    if (!status || *status < 0) passed = false;
    out += std::string(out.empty() ? "" : ", ") + label + " " + (status ? std::to_string(*status) : "?");
  }
  return std::string(passed ? "self-test passed: " : "self-test FAILED: ") + out;
}

}  // namespace mirrow::host
