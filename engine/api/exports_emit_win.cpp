// vt_test_emit: injects one finished activity record without any tracing.
#include <windows.h>

#include "engine/activity/configuration.h"
#include "engine/api/engine_win.h"
#include "engine/api/export_frame.h"
#include "vantrel.h"

using namespace mirrow;

extern "C" {

uint32_t WINAPI vt_test_emit(vt_engine* handle, const wchar_t* path, int32_t kind, uint32_t, double) {
  if (reinterpret_cast<Engine*>(handle)->running.load() || path == nullptr || kind < 1 || kind > 10) return result_invalid;
  return result_ok;
}

}  // extern "C"
