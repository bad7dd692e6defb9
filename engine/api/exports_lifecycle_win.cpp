// Lifetime and configuration exports.
#include <windows.h>

#include <exception>
#include <mutex>
#include <string>

#include "common/thread_texts.h"
#include "engine/api/configuration.h"
#include "engine/api/engine_win.h"
#include "engine/api/export_frame.h"
#include "vantrel.h"

using namespace mirrow;

namespace {

Engine& engine_of(vt_engine* handle) { return *reinterpret_cast<Engine*>(handle); }

}  // namespace

extern "C" {

uint32_t WINAPI vt_abi(void) { return 1; }

vt_engine* WINAPI vt_create(void) { return reinterpret_cast<vt_engine*>(create_engine()); }

void WINAPI vt_destroy(vt_engine* handle) {
  Engine* engine = reinterpret_cast<Engine*>(handle);
  if (engine == nullptr) return;
  {
    std::lock_guard hold(engine->lifecycle_lock);
    stop_sequence(*engine);
  }
  destroy_engine(engine);
}

uint32_t WINAPI vt_start(vt_engine* handle, int32_t capture, int32_t track_missing_opens) {
  if (handle == nullptr) {
    clear_this_thread_text();
    return result_invalid;
  }
  Engine& engine = engine_of(handle);
  std::lock_guard hold(engine.lifecycle_lock);
  try {
    const uint32_t status = start_engine(engine, capture != 0, track_missing_opens != 0);
    // A failure without an exception has no text; an older one would only mislead.
    if (status != result_ok) clear_this_thread_text();
    return status;
  } catch (const std::exception& e) {
    try {
      this_thread_text() = e.what();
    } catch (...) {
      clear_this_thread_text();
    }
  } catch (...) {
    clear_this_thread_text();
  }
  stop_sequence(engine);
  return result_out_of_memory;
}

void WINAPI vt_stop(vt_engine* handle) {
  if (handle == nullptr) return;
  Engine& engine = engine_of(handle);
  std::lock_guard hold(engine.lifecycle_lock);
  stop_sequence(engine);
}

// Each calling thread sees only the text of its own last failing vt_start.
const char* WINAPI vt_error(void) { return this_thread_text_or_empty(); }

uint32_t WINAPI vt_root(vt_engine* handle, int64_t id, const wchar_t* path, int32_t flag) {
  if (handle == nullptr) return result_invalid;
  return contained(result_out_of_memory, [&] { return add_root(engine_of(handle), id, utf16(path), flag != 0); });
}

uint32_t WINAPI vt_exclude(vt_engine* handle, const wchar_t* path) {
  if (handle == nullptr) return result_invalid;
  return contained(result_out_of_memory, [&] { return add_exclusion(engine_of(handle), utf16(path)); });
}

void WINAPI vt_missing(vt_engine* handle, const wchar_t* path) {
  if (handle == nullptr) return;
  Engine& engine = engine_of(handle);
  contained_counted(engine.counters, [&] { add_missing(engine.missing_paths, utf16(path)); });
}

void WINAPI vt_missing_clear(vt_engine* handle) {
  if (handle == nullptr) return;
  Engine& engine = engine_of(handle);
  contained_counted(engine.counters, [&] { clear_missing(engine.missing_paths); });
}

void WINAPI vt_probe(vt_engine* handle, const wchar_t* path) {
  if (handle == nullptr) return;
  Engine& engine = engine_of(handle);
  contained_counted(engine.counters, [&] { set_probe(engine.probe, utf16(path)); });
}

}  // extern "C"
