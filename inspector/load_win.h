#pragma once
// The CPU load report: load since the previous call, then the executable
// name of every running process.
#include <string>

namespace mirrow::inspector {

// Serialised process-wide by one lock, so that reading, computing and storing
// the previous sample is atomic across callers.
void write_load_report(std::string& out);

}  // namespace mirrow::inspector
