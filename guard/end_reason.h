#pragma once
// Why a freeze ended, in the order in which a pass of the wait loop tests the
// conditions, and the fixed ASCII word each is reported as.
#include <string_view>

namespace mirrow::guard {

enum class EndReason {
  lease_expired,
  owner_exited,
  target_exited,
  control_closed,
  requested,
  heartbeat_lost,
  guard_error,
};

std::string_view end_reason_word(EndReason reason);

}  // namespace mirrow::guard
