#include "guard/end_reason.h"

namespace mirrow::guard {

std::string_view end_reason_word(EndReason reason) {
  switch (reason) {
    case EndReason::lease_expired: return "lease_expired";
    case EndReason::owner_exited: return "owner_exited";
    case EndReason::target_exited: return "target_exited";
    case EndReason::control_closed: return "control_closed";
    case EndReason::requested: return "requested";
    case EndReason::heartbeat_lost: return "heartbeat_lost";
    case EndReason::guard_error: return "guard_error";
  }
  return "guard_error";
}

}  // namespace mirrow::guard
