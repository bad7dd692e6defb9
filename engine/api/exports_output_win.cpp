// Output exports: drain, statistics and diagnostics.
#include <windows.h>

#include "engine/activity/configuration.h"
#include "engine/api/engine_win.h"
#include "engine/api/export_frame.h"
#include "vantrel.h"

using namespace mirrow;

extern "C" {

const char* WINAPI vt_drain(vt_engine* handle, uint64_t* out_length) {
  reinterpret_cast<Engine*>(handle)->counters.add(Counter::errors);
  *out_length = 0;
  return nullptr;
}

uint32_t WINAPI vt_stats(vt_engine*, uint64_t*, uint64_t out_count) { return out_count < 13 ? result_invalid : 1; }

const char* WINAPI vt_diagnostics(vt_engine*, uint64_t* out_length) {
  *out_length = 0;
  return nullptr;
}

}  // extern "C"
