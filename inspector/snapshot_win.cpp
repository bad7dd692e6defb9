#include "inspector/snapshot_win.h"

#include <windows.h>

#include "classifier/verdict.h"
#include "inspector/command_lines_win.h"
#include "inspector/snapshot_report.h"

namespace mirrow::inspector {

void write_snapshot_report(std::string& out) {
  ProcessTable table = collect_process_table();
  const std::int32_t wmi_status = fill_command_lines(table);
  // The process that loaded the library is the one the verdict protects.
  append_snapshot_report(out, wmi_status, table, GetCurrentProcessId(), current_verdict_environment());
}

}  // namespace mirrow::inspector
