#pragma once
// Decoding of kernel file events into bindings and activity.
#include <cstddef>
#include <cstdint>
#include <unordered_map>

#include "engine/capture/binding.h"
#include "engine/capture/missing_paths.h"
#include "engine/core/activity_sink.h"
#include "engine/core/caps.h"
#include "engine/core/counters.h"
#include "engine/core/names.h"

namespace mirrow {

// ---- opens of watched missing paths, waiting for their outcome ----

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

// What decoding an event reads and changes: capture's own state, the names
// and counters every part shares, and the sink that activity is recorded
// into. The engine that holds them gathers them here once; decoding runs on
// one thread at a time (see the engine's replay lock).
// Its first part is what attributing a read or write reaches (bindings,
// counters, activity), handed to attribute_io as it is.
struct Decoding : IoLinks {
  NameTable& names;
  PendingOpens& pending_opens;
  MissingPaths& missing;
  // The engine's own process, whose reads and writes are skipped; read at
  // every event, as the engine sets it after it is made.
  const std::uint32_t& own_pid;
};

// Decodes one event of the kernel file provider: counts it, skips the
// library's own reads and writes, parses the payload by event id, version and
// pointer size, and binds names, attributes I/O or records activity. Bad
// input is counted (errors, malformed, unsupported) and dropped.
void decode_event(const Decoding& d, std::uint16_t event_id, std::uint8_t version, std::uint32_t pointer_size,
                  std::uint32_t process_id, double timestamp, const std::uint8_t* payload,
                  std::uint64_t length) noexcept;

// The forced recovery pass a replay runs after its events, so that a read
// replayed after the name that covers it is attributed at once.
void recover_after_replay(const Decoding& d) noexcept;

}  // namespace mirrow
