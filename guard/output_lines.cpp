#include "guard/output_lines.h"

#include "common/json_text.h"
#include "common/number_format.h"

namespace mirrow::guard {

std::string refusal_line(std::u16string_view reason) {
  std::string line = R"({"error":)";
  json_quote(line, reason);
  line.push_back('}');
  return line;
}

std::string status_error_line(std::int32_t status) {
  std::string line = R"({"error":"NT suspend/resume failed","status":)";
  append_i64(line, status);
  line.push_back('}');
  return line;
}

namespace {

std::string resume_line(std::string_view reason_word, std::int32_t resume_status) {
  std::string line = R"({"state":")";
  line += resume_status >= 0 ? "resumed" : "resume_failed";
  line += R"(","reason":")";
  line += reason_word;
  line += R"(","status":)";
  append_i64(line, resume_status);
  line.push_back('}');
  return line;
}

}  // namespace

std::string final_state_line(EndReason reason, std::int32_t resume_status) {
  return resume_line(end_reason_word(reason), resume_status);
}

std::string recovered_line(std::int32_t resume_status) { return resume_line("recovered", resume_status); }

std::string self_test_summary_line(const SelfTestStatuses& statuses) {
  std::string line = R"({"own_fixture_only":true,"lease_status":)";
  append_i64(line, statuses.lease);
  line += R"(,"owner_exit_status":)";
  append_i64(line, statuses.owner_exit);
  line += R"(,"requested_status":)";
  append_i64(line, statuses.requested);
  line += R"(,"heartbeat_status":)";
  append_i64(line, statuses.heartbeat);
  line.push_back('}');
  return line;
}

std::string with_line_feed(std::string_view line) {
  std::string wire;
  wire.reserve(line.size() + 1);
  wire.append(line);
  wire.push_back('\n');
  return wire;
}

}  // namespace mirrow::guard
