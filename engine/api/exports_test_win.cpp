// Test and replay exports: they drive the decoder and the aggregation
// without any tracing, and are refused while the engine runs.
#include <windows.h>

#include "engine/api/configuration.h"
#include "engine/api/engine_win.h"
#include "engine/api/export_frame.h"
#include "engine/api/host_events.h"
#include "vantrel.h"

using namespace mirrow;

namespace {

Engine& engine_of(vt_engine* handle) { return *reinterpret_cast<Engine*>(handle); }

ReplayEvent replay_arguments(uint16_t event_id, uint8_t version, uint32_t pointer_size, uint32_t process_id,
                             double timestamp, const uint8_t* payload, uint64_t length) {
  return ReplayEvent{event_id, version, pointer_size, process_id, timestamp, payload, length};
}

}  // namespace

extern "C" {

uint32_t WINAPI vt_replay(vt_engine* handle, uint16_t event_id, uint8_t version, uint32_t pointer_size,
                          uint32_t process_id, double timestamp, const uint8_t* payload, uint64_t length) {
  if (handle == nullptr) return result_invalid;
  return replay_event(engine_of(handle),
                      replay_arguments(event_id, version, pointer_size, process_id, timestamp, payload, length));
}

uint32_t WINAPI vt_replay_many(vt_engine* handle, uint16_t event_id, uint8_t version, uint32_t pointer_size,
                               uint32_t process_id, double timestamp, const uint8_t* payload, uint64_t length,
                               uint32_t repeat) {
  if (handle == nullptr) return result_invalid;
  return replay_event_many(engine_of(handle),
                           replay_arguments(event_id, version, pointer_size, process_id, timestamp, payload, length),
                           repeat);
}

uint32_t WINAPI vt_test_recovery(vt_engine* handle, int32_t on) {
  if (handle == nullptr) return result_invalid;
  return set_missing_open_tracking(engine_of(handle), on != 0);
}

}  // extern "C"
