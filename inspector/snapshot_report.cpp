#include "inspector/snapshot_report.h"

#include "common/number_format.h"
#include "common/json_writer.h"

namespace mirrow::inspector {
namespace {

void append_process(JsonWriter& json, const ProcessFacts& facts, const ProcessTable& table,
                    std::uint32_t anchor_pid, const VerdictEnvironment& environment) {
  json.begin_object()
      .key("pid").u64(facts.pid)
      .key("parent").u64(facts.parent_pid)
      .key("session").u64(facts.session_id)
      .key("created").quoted_u64(facts.creation_time)
      .key("name").text(facts.exe_name)
      .key("path").text(facts.image_path)
      .key("cli").text(facts.command_line)
      .key("ui").flag(facts.has_visible_window)
      .key("same_user").flag(facts.same_user)
      .key("protected").text(protection_reason(facts, table, anchor_pid, environment))
      .end_object();
}

}  // namespace

void append_snapshot_report(std::string& out, std::int32_t wmi_status, const ProcessTable& table,
                            std::uint32_t anchor_pid, const VerdictEnvironment& environment) {
  JsonWriter json(out);
  json.begin_object().key("wmi_status").i64(wmi_status).key("processes").begin_array();
  for (const auto& [pid, facts] : table) append_process(json, facts, table, anchor_pid, environment);
  json.end_array().end_object();
}

}  // namespace mirrow::inspector
