#pragma once
// Decoding of kernel file events into bindings and activity.
#include <cstddef>
#include <cstdint>
#include <unordered_map>

#include "engine/core/caps.h"
#include "engine/core/names.h"

namespace mirrow {

struct EngineCore;

constexpr std::size_t pending_open_cap = caps::pending_open_cap;
constexpr std::uint64_t pending_open_life_ms = 30000;

// An open of a watched missing path, waiting for its completion event.
struct PendingOpen {
  NameRef name;
  std::uint32_t process_id = 0;
  std::uint64_t stored_ticks = 0;
  double timestamp = 0.0;
};

// Opens of watched missing paths keyed by their IRP. Touched only by the
// decoding thread; insertions also hold missing_lock.
struct PendingOpens {
  std::unordered_map<std::uint64_t, PendingOpen> by_irp;
};

// Decodes one event of the kernel file provider: counts it, skips the
// library's own reads and writes, parses the payload by event id, version and
// pointer size, and binds names, attributes I/O or records activity. Bad
// input is counted (errors, malformed, unsupported) and dropped.
void decode_event(EngineCore& engine, std::uint16_t event_id, std::uint8_t version, std::uint32_t pointer_size,
                  std::uint32_t process_id, double timestamp, const std::uint8_t* payload,
                  std::uint64_t length) noexcept;

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
// engine runs or for a null payload with a length. Holds replay_lock
// throughout, so a start waits for a replay in progress.
std::uint32_t replay_event(EngineCore& engine, const ReplayEvent& event) noexcept;

// Decodes the same event repeat times in a tight loop, without recovery
// passes of its own. 87 also for more than replay_repeat_cap repetitions.
std::uint32_t replay_event_many(EngineCore& engine, const ReplayEvent& event, std::uint32_t repeat) noexcept;

}  // namespace mirrow
