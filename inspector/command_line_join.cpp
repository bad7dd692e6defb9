#include "inspector/command_line_join.h"

#include "inspector/cim_datetime.h"

namespace mirrow::inspector {
namespace {

// Less than one microsecond apart, in either direction.
bool same_instant(std::uint64_t a, std::uint64_t b) { return (a > b ? a - b : b - a) < 10; }

}  // namespace

bool join_wmi_row(ProcessTable& table, const WmiRow& row, StillSameProcess still_same_process) {
  const auto entry = table.find(row.process_id);
  if (entry == table.end() || !row.command_line || !row.creation_date) return false;
  const std::uint64_t created = parse_cim_datetime(*row.creation_date);
  if (created == 0 || !same_instant(created, entry->second.creation_time)) return false;
  if (!still_same_process(entry->second.pid, entry->second.creation_time)) return false;
  entry->second.command_line = *row.command_line;
  return true;
}

std::int32_t join_wmi_rows(ProcessTable& table, const WmiRowSource& source) {
  std::int32_t status = 0;
  const std::uint64_t deadline = source.tick_ms() + wmi_budget_ms;
  while (source.tick_ms() < deadline) {
    const WmiStep step = source.next(source.context, wmi_step_ms);
    if (step.row) {
      join_wmi_row(table, *step.row, source.still_same_process);
      continue;
    }
    if (step.code == wbem_s_timedout) continue;
    if (step.code < 0) status = step.code;
    break;
  }
  if (source.tick_ms() >= deadline && status >= 0) status = wbem_s_timedout;
  return status;
}

}  // namespace mirrow::inspector
