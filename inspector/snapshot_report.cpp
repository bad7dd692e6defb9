#include "inspector/snapshot_report.h"

#include "common/number_format.h"
#include "inspector/report_members.h"

namespace mirrow::inspector {
namespace {

void append_process(std::string& out, const ProcessFacts& facts, const ProcessTable& table,
                    std::uint32_t anchor_pid, const VerdictEnvironment& environment) {
  append_number(out, "{\"pid\":", facts.pid);
  append_number(out, ",\"parent\":", facts.parent_pid);
  append_number(out, ",\"session\":", facts.session_id);
  append_quoted_number(out, ",\"created\":", facts.creation_time);
  append_text(out, ",\"name\":", facts.exe_name);
  append_text(out, ",\"path\":", facts.image_path);
  append_text(out, ",\"cli\":", facts.command_line);
  append_flag(out, ",\"ui\":", facts.has_visible_window);
  append_flag(out, ",\"same_user\":", facts.same_user);
  append_text(out, ",\"protected\":", protection_reason(facts, table, anchor_pid, environment));
  out += '}';
}

}  // namespace

void append_snapshot_report(std::string& out, std::int32_t wmi_status, const ProcessTable& table,
                            std::uint32_t anchor_pid, const VerdictEnvironment& environment) {
  out += "{\"wmi_status\":";
  append_i64(out, wmi_status);
  out += ",\"processes\":[";
  bool first = true;
  for (const auto& [pid, facts] : table) {
    if (!first) out += ',';
    first = false;
    append_process(out, facts, table, anchor_pid, environment);
  }
  out += "]}";
}

}  // namespace mirrow::inspector
