#pragma once
// A recording to a trace file of what capture asks the system for: one
// session in the system logger's mode with the names session's kernel flags
// (the classic file name events) and the kernel file provider enabled as the
// capture session enables it, its state requested, written sequentially to
// the file. Named and marked like a capture session, so that the sweep of a
// later engine start stops a recording whose owner died.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/unique_handle.h"
#include "engine/capture/session_settings.h"
#include "engine/capture/trace_calls_win.h"

namespace mirrow {

struct TraceRecording {
  const TraceCalls* calls = nullptr;
  std::u16string name;
  UniqueHandle owner_mark;
  alignas(8) std::array<std::uint8_t, recording_block_bytes> block{};
  TRACEHANDLE session = 0;
};

// 0, 206 for a file name too long for the block, or the failing call's
// status; a session that started is stopped again when a later step fails.
// The state request's status goes to `state_status` (the recording runs on
// without it).
std::uint32_t start_recording(const TraceCalls& calls, std::u16string_view file, bool track_missing_opens,
                              TraceRecording& recording, std::uint32_t& state_status);

// Stops the recording; 0 or the stop's status, with its losses.
std::uint32_t stop_recording(TraceRecording& recording, SessionLosses& losses) noexcept;

}  // namespace mirrow
