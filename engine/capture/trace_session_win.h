#pragma once
// The startup names session and the long-running capture session.
#include <cstdint>
#include <string>
#include <thread>

namespace mirrow {

struct Engine;

struct CaptureSession {
  std::uint64_t session_handle = 0;               // 0: none
  std::uint64_t processing_handle = ~0ULL;        // all ones: none
  std::thread thread;
  std::u16string session_name;
};

// Starts both sessions; returns 0 or the failing call's status.
std::uint32_t start_trace_sessions(Engine& engine);

// Stop steps 2 to 4: stop the session (collecting its loss counts), close the
// consumer and join the capture thread.
void stop_capture(Engine& engine) noexcept;

}  // namespace mirrow
