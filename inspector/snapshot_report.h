#pragma once
// The snapshot report: the WMI status, then every process of the table with
// its identity, names, command line, window and user flags and the verdict
// on whether it may be frozen.
#include <cstdint>
#include <string>

#include "classifier/process_facts.h"
#include "classifier/verdict.h"

namespace mirrow::inspector {

// The verdict of each entry is taken on behalf of `anchor_pid` (the process
// that loaded the library) in `environment`.
void append_snapshot_report(std::string& out, std::int32_t wmi_status, const ProcessTable& table,
                            std::uint32_t anchor_pid, const VerdictEnvironment& environment);

}  // namespace mirrow::inspector
