#pragma once
// Ownership marks beside the engine's trace sessions, and the sweep that
// stops engine sessions whose owning process has gone.
#include <cstdint>
#include <string_view>

#include "common/unique_handle.h"
#include "engine/capture/trace_calls_win.h"

namespace mirrow {

// Makes the mark of a session: a named mutex "Global\<session name>", or
// "Local\<session name>" where the global namespace is refused. An empty
// handle when neither can be made. The session is owned while it is held.
UniqueHandle create_owner_mark(const TraceCalls& calls, std::u16string_view session_name);

// False only when neither mark name is found: the session has no live owner
// in any process. An unclear lookup counts as an owner.
bool session_has_owner(const TraceCalls& calls, std::u16string_view session_name);

// What one sweep saw and did.
struct OrphanSweep {
  std::uint32_t listed = 0;          // sessions the listing handed out
  std::uint32_t unseen = 0;          // sessions reported beyond the largest listing
  std::uint32_t orphans = 0;         // engine sessions without an owner
  std::uint32_t stopped = 0;         // orphans stopped by this sweep
  std::uint32_t left_for_later = 0;  // orphans found after the time budget ran out
  std::uint32_t failures = 0;        // a failed listing, an incomplete one, each failed stop
};

// Lists the running sessions and stops, by name, every engine session that
// has no owner. Never fails: what goes wrong is only counted.
OrphanSweep sweep_orphan_sessions(const TraceCalls& calls) noexcept;

}  // namespace mirrow
