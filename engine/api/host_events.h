#pragma once
// Events a host hands the engine on its own thread while the engine is
// stopped: vt_replay, vt_replay_many, vt_test_emit and the replay of a
// recorded trace. Each holds replay_lock throughout, so a start waits for
// one in progress, and is refused (87) once the engine runs.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "engine/capture/trace_replay.h"

namespace mirrow {

struct EngineCore;

// One event as vt_replay and vt_replay_many hand it in.
struct ReplayEvent {
  std::uint16_t event_id = 0;
  std::uint8_t version = 0;
  std::uint32_t pointer_size = 8;
  std::uint32_t process_id = 0;
  double timestamp = 0.0;
  const std::uint8_t* payload = nullptr;  // may be null when length is 0
  std::uint64_t length = 0;
};

constexpr std::uint32_t replay_repeat_cap = 10000000;

// Decodes the event once, then runs a forced recovery pass, so that a read
// replayed after the name that covers it is attributed at once. 87 while the
// engine runs or for a null payload with a length.
std::uint32_t replay_event(EngineCore& engine, const ReplayEvent& event) noexcept;

// Decodes the same event repeat times in a tight loop, without recovery
// passes of its own. 87 also for more than replay_repeat_cap repetitions.
std::uint32_t replay_event_many(EngineCore& engine, const ReplayEvent& event, std::uint32_t repeat) noexcept;

// The test hook behind vt_test_emit: 87 for a null path, a kind outside
// 1..10, a time that is not finite or while the engine runs, else interns
// the path and records one finished activity.
std::uint32_t emit_test_activity(EngineCore& engine, const char16_t* path, std::int32_t kind, std::uint32_t pid,
                                 double timestamp);

// A recorded trace file's bytes through the sink (see capture/trace_replay.h);
// refused with a report while the engine runs.
TraceReplay replay_trace(EngineCore& engine, std::u16string_view file_name, std::span<const std::uint8_t> bytes,
                         const std::optional<std::u16string>& device_entries, TraceEventSink sink,
                         void* context) noexcept;

}  // namespace mirrow
