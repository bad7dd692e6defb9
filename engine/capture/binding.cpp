#include "engine/capture/binding.h"

#include "engine/api/engine_core.h"

namespace mirrow {

void finish_pending_at_stop(EngineCore&) {}

}  // namespace mirrow
