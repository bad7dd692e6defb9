// Test and replay exports: they drive the decoder and the aggregation
// without any tracing, and are refused while the engine runs.
#include <windows.h>

#include "engine/activity/configuration.h"
#include "engine/api/engine_win.h"
#include "engine/api/export_frame.h"
#include "vantrel.h"

using namespace mirrow;

namespace {
Engine& engine_of(vt_engine* handle) { return *reinterpret_cast<Engine*>(handle); }
}  // namespace

extern "C" {

uint32_t WINAPI vt_replay(vt_engine* handle, uint16_t, uint8_t, uint32_t, uint32_t, double, const uint8_t* payload,
                          uint64_t length) {
  if (engine_of(handle).running.load() || (payload == nullptr && length != 0)) return result_invalid;
  return result_ok;
}

uint32_t WINAPI vt_replay_many(vt_engine* handle, uint16_t, uint8_t, uint32_t, uint32_t, double,
                               const uint8_t* payload, uint64_t length, uint32_t) {
  if (engine_of(handle).running.load() || (payload == nullptr && length != 0)) return result_invalid;
  return result_ok;
}

uint32_t WINAPI vt_test_recovery(vt_engine* handle, int32_t on) {
  Engine& engine = engine_of(handle);
  if (engine.running.load()) return result_invalid;
  engine.track_missing_opens = on != 0;
  return result_ok;
}

}  // extern "C"
