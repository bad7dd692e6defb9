#include "engine/capture/trace_session_win.h"

#include <windows.h>

#include "engine/api/engine_win.h"

namespace mirrow {

std::uint32_t start_trace_sessions(Engine&) { return ERROR_NOT_SUPPORTED; }

void stop_capture(Engine& engine) noexcept {
  engine.capture.session_handle = 0;
  engine.capture.processing_handle = ~0ULL;
  if (engine.capture.thread.joinable()) engine.capture.thread.join();
}

}  // namespace mirrow
