#pragma once
// The snapshot report: a fresh process table, the command lines WMI can
// prove, and the verdict on every process taken on behalf of the caller.
#include <string>

namespace mirrow::inspector {

void write_snapshot_report(std::string& out);

}  // namespace mirrow::inspector
