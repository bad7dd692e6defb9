#pragma once
// The capture part of mirrowctl check: one engine captures while a child
// process writes a file in its watched folder. Apart from the command so
// that a test can run it against an engine over the scripted tracing.
#include <string>
#include <vector>

#include "host/check_report.h"
#include "host/libraries_win.h"

namespace mirrow::host {

struct CaptureCheck {
  // "capture and attribution", "startup names" and "session clean-up".
  std::vector<CheckLine> lines;
  // The engine's diagnostics document while it captured; empty when
  // capture was not tried or did not start.
  std::string diagnostics;
};

CaptureCheck check_capture(VantrelLibrary& vantrel, const Machine& machine);

}  // namespace mirrow::host
