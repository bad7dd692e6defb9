// Output exports: drain, statistics and diagnostics.
#include <windows.h>

#include <algorithm>

#include "engine/activity/drain_format.h"
#include "engine/api/engine_win.h"
#include "engine/api/export_frame.h"
#include "engine/api/reports.h"
#include "engine/core/result_codes.h"
#include "engine/api/live_figures_win.h"
#include "vantrel.h"

using namespace mirrow;

namespace {

Engine& engine_of(vt_engine* handle) { return *reinterpret_cast<Engine*>(handle); }

// Hands out a text the engine keeps; a null length pointer only loses the
// length, the text is NUL-terminated anyway.
const char* hand_out(const std::string& text, uint64_t* out_length) {
  if (out_length != nullptr) *out_length = text.size();
  return text.c_str();
}

const char* failed_text(uint64_t* out_length) {
  if (out_length != nullptr) *out_length = 0;
  return nullptr;
}

}  // namespace

extern "C" {

const char* WINAPI vt_drain(vt_engine* handle, uint64_t* out_length) {
  if (handle == nullptr) return failed_text(out_length);
  Engine& engine = engine_of(handle);
  const char* text = contained_counted(engine.counters, static_cast<const char*>(nullptr), [&] {
    return hand_out(drain_activity(engine.activity), out_length);
  });
  return text != nullptr ? text : failed_text(out_length);
}

uint32_t WINAPI vt_stats(vt_engine* handle, uint64_t* out, uint64_t out_count) {
  if (handle == nullptr || out == nullptr || out_count < statistics_count) return result_invalid;
  Engine& engine = engine_of(handle);
  return contained(1u, [&] {
    const StatisticsValues values = statistics_values(engine, gather_live_figures(engine));
    std::copy(values.begin(), values.end(), out);
    return result_ok;
  });
}

const char* WINAPI vt_diagnostics(vt_engine* handle, uint64_t* out_length) {
  if (handle == nullptr) return failed_text(out_length);
  Engine& engine = engine_of(handle);
  const char* text = contained(static_cast<const char*>(nullptr), [&] {
    std::string text = diagnostics_document(engine, gather_live_figures(engine));
    std::lock_guard hold(engine.diagnostics_lock);
    engine.diagnostics_text.swap(text);
    return hand_out(engine.diagnostics_text, out_length);
  });
  return text != nullptr ? text : failed_text(out_length);
}

}  // extern "C"
