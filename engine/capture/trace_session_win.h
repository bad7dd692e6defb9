#pragma once
// The startup names session and the long-running capture session.
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "common/unique_handle.h"
#include "engine/capture/session_owner_win.h"
#include "engine/capture/session_settings.h"
#include "engine/capture/startup_figures.h"
#include "engine/capture/trace_calls_win.h"
#include "engine/core/counters.h"

namespace mirrow {

struct Decoding;

// A real-time consumer from OpenTraceW, closed through the calls it was
// opened with, so that a scripted substitute sees every close.
struct TraceConsumerTraits {
  using pointer = TRACEHANDLE;
  static pointer invalid() noexcept { return ~0ULL; }  // all ones: what a failed open returns
  static bool is_valid(pointer h) noexcept { return h != invalid(); }
  void close(pointer h) const noexcept { calls->close_trace(h); }

  const TraceCalls* calls = nullptr;
};
using TraceConsumer = Unique<TraceConsumerTraits>;

// A started trace session; closing it stops it, and a failed stop is
// followed by a stop by name. A stop needs the session's name and property
// block, so the traits point at both: they must outlive the owner.
struct TraceSessionTraits {
  using pointer = TRACEHANDLE;
  static pointer invalid() noexcept { return 0; }
  static bool is_valid(pointer h) noexcept { return h != 0; }
  void close(pointer h) const noexcept;

  const TraceCalls* calls = nullptr;
  const std::u16string* name = nullptr;
  EVENT_TRACE_PROPERTIES* block = nullptr;
};
using TraceSession = Unique<TraceSessionTraits>;

struct CaptureSession {
  // Every tracing call goes through this table; the engine's owner may
  // substitute it while the engine is stopped.
  const TraceCalls* calls = &system_trace_calls();
  // The session's handle as the reports see it: 0 when none. Read by
  // vt_stats on any thread, hence atomic; it changes together with
  // `session` under live_lock.
  std::atomic<std::uint64_t> session_handle{0};
  TraceConsumer processing_handle;
  std::thread thread;
  // True while the capture thread is inside its event loop.
  std::atomic<bool> capture_live{false};
  std::u16string session_name;
  // Held from just before the session starts until it has been stopped, so
  // that a sweep in any process sees the session as owned.
  UniqueHandle owner_mark;
  // What the sweep at the last start with capture saw and did.
  OrphanSweep last_sweep;
  // The capture session's property block, kept for stop and query.
  alignas(8) std::array<std::uint8_t, property_block_bytes> properties{};
  // The running session's owner. Declared after the name and block it
  // stops with, so that it goes before them.
  TraceSession session;
};

// What the sessions reach outside themselves, held by the engine.
struct CaptureLinks {
  Counters& counters;
  StartupFigures& startup;
  // The engine's lock over what the reports read of the running system:
  // the session's handle and name, and the capture thread object.
  std::mutex& live_lock;
  // The engine's stop event (manual reset): ends the names session's wait.
  HANDLE stop_event;
  // Where the record callback hands every event: its context.
  const Decoding& decoding;
  bool track_missing_opens;
};

// Sweeps the sessions left by engines whose process has gone, runs the
// startup names session (only recorded) and starts the capture session;
// returns 0 or the failing call's status. A session that started is stopped
// again on every failing path.
std::uint32_t start_trace_sessions(CaptureSession& capture, const CaptureLinks& links);

// The capture half of a stop: stop the session (collecting its loss counts),
// close the consumer and join the capture thread. Does nothing without a capture.
void stop_capture(CaptureSession& capture, const CaptureLinks& links) noexcept;

// Losses of the running capture session, asked of the session itself; empty
// when the query fails. Without a session: the counts kept from the last stop.
std::optional<SessionLosses> query_capture_losses(CaptureSession& capture, const StartupFigures& startup) noexcept;

// Stops a session by its name alone, with a property block of its own.
ULONG stop_session_by_name(const TraceCalls& calls, const std::u16string& name) noexcept;

// Fills a session's property block of `block_bytes` with the settings, the
// session GUID and the offset of the session name that follows the fixed part.
void fill_session_block(std::uint8_t* bytes, const SessionProperties& values, const GUID& guid,
                        std::uint32_t block_bytes = property_block_bytes);

// Enables the kernel file provider on a session with the capture's level,
// keywords and event-id filter; 0 or the call's status.
std::uint32_t enable_kernel_file_events(const TraceCalls& calls, TRACEHANDLE session, bool track_missing_opens);
// Asks the kernel file provider for the names of the files already open.
std::uint32_t request_kernel_file_state(const TraceCalls& calls, TRACEHANDLE session);

// The record callback of both consumers; the record's context is the
// engine's Decoding.
void WINAPI receive_event_record(PEVENT_RECORD record);

}  // namespace mirrow
