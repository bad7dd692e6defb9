#include "guard/output_lines.h"

#include "common/json_writer.h"

namespace mirrow::guard {

std::string refusal_line(std::u16string_view reason) {
  std::string line;
  JsonWriter(line).begin_object().key("error").text(reason).end_object();
  return line;
}

std::string status_error_line(std::int32_t status) {
  std::string line;
  JsonWriter(line).begin_object().key("error").word("NT suspend/resume failed").key("status").i64(status).end_object();
  return line;
}

namespace {

std::string resume_line(std::string_view reason_word, std::int32_t resume_status) {
  std::string line;
  JsonWriter(line)
      .begin_object()
      .key("state").word(resume_status >= 0 ? "resumed" : "resume_failed")
      .key("reason").word(reason_word)
      .key("status").i64(resume_status)
      .end_object();
  return line;
}

}  // namespace

std::string final_state_line(EndReason reason, std::int32_t resume_status) {
  return resume_line(end_reason_word(reason), resume_status);
}

std::string recovered_line(std::int32_t resume_status) { return resume_line("recovered", resume_status); }

std::string self_test_summary_line(const SelfTestStatuses& statuses) {
  std::string line;
  JsonWriter(line)
      .begin_object()
      .key("own_fixture_only").boolean(true)
      .key("lease_status").i64(statuses.lease)
      .key("owner_exit_status").i64(statuses.owner_exit)
      .key("requested_status").i64(statuses.requested)
      .key("heartbeat_status").i64(statuses.heartbeat)
      .end_object();
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
