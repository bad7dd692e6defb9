// vt_test_emit: injects one finished activity record without any tracing.
#include <windows.h>

#include "common/unique_handle.h"
#include "engine/api/engine_win.h"
#include "engine/api/export_frame.h"
#include "engine/api/host_events.h"
#include "engine/core/result_codes.h"
#include "vantrel.h"

using namespace mirrow;

extern "C" {

uint32_t WINAPI vt_test_emit(vt_engine* handle, const wchar_t* path, int32_t kind, uint32_t process_id,
                             double timestamp) {
  if (handle == nullptr) return result_invalid;
  Engine& engine = *reinterpret_cast<Engine*>(handle);
  if (engine.running.load()) return result_invalid;
  return contained(result_out_of_memory,
                   [&] { return emit_test_activity(engine, utf16(path), kind, process_id, timestamp); });
}

}  // extern "C"
