#pragma once
// The startup names session and the long-running capture session.
#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>

#include "engine/capture/session_settings.h"
#include "engine/capture/trace_calls_win.h"

namespace mirrow {

struct Engine;

struct CaptureSession {
  // Every tracing call goes through this table; the engine's owner may
  // substitute it while the engine is stopped.
  const TraceCalls* calls = &system_trace_calls();
  // 0: none. Read by vt_stats on any thread, hence atomic.
  std::atomic<std::uint64_t> session_handle{0};
  std::uint64_t processing_handle = ~0ULL;  // all ones: none
  std::thread thread;
  std::u16string session_name;
  // The capture session's property block, kept for stop and query.
  alignas(8) std::array<std::uint8_t, property_block_bytes> properties{};
};

// Runs the startup names session (only recorded) and starts the capture
// session; returns 0 or the failing call's status. A session that started
// is stopped again on every failing path.
std::uint32_t start_trace_sessions(Engine& engine);

// The capture half of a stop: stop the session (collecting its loss counts),
// close the consumer and join the capture thread. Does nothing without a capture.
void stop_capture(Engine& engine) noexcept;

// Losses of the running capture session, asked of the session itself; empty
// when the query fails. Without a session: the counts kept from the last stop.
std::optional<SessionLosses> query_capture_losses(Engine& engine) noexcept;

// The record callback of both consumers; the record's context is the Engine.
void WINAPI receive_event_record(PEVENT_RECORD record);

}  // namespace mirrow
