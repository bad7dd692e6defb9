#include "engine/api/host_events.h"

#include <cmath>
#include <mutex>

#include "engine/api/engine_core.h"
#include "engine/core/result_codes.h"

namespace mirrow {
namespace {

bool replay_refused(const EngineCore& engine, const ReplayEvent& event) {
  return engine.running.load() || (event.payload == nullptr && event.length != 0);
}

void decode_replayed(const Decoding& d, const ReplayEvent& e) noexcept {
  decode_event(d, e.event_id, e.version, e.pointer_size, e.process_id, e.timestamp, e.payload, e.length);
}

}  // namespace

std::uint32_t replay_event(EngineCore& engine, const ReplayEvent& event) noexcept {
  std::lock_guard hold(engine.replay_lock);
  if (replay_refused(engine, event)) return result_invalid;
  decode_replayed(engine.decoding, event);
  recover_after_replay(engine.decoding);
  return result_ok;
}

std::uint32_t replay_event_many(EngineCore& engine, const ReplayEvent& event, std::uint32_t repeat) noexcept {
  std::lock_guard hold(engine.replay_lock);
  if (replay_refused(engine, event) || repeat > replay_repeat_cap) return result_invalid;
  for (std::uint32_t i = 0; i < repeat; ++i) decode_replayed(engine.decoding, event);
  return result_ok;
}

std::uint32_t emit_test_activity(EngineCore& engine, const char16_t* path, std::int32_t kind, std::uint32_t pid,
                                 double timestamp) {
  // A time that is not a number would come out as text that is not JSON.
  if (path == nullptr || kind < 1 || kind > 10 || !std::isfinite(timestamp)) return result_invalid;
  // Like a replay: never beside a start, which reorders the roots that the
  // classification reads, nor once the engine runs.
  std::lock_guard hold(engine.replay_lock);
  if (engine.running.load()) return result_invalid;
  const NameRef name = intern_name(engine.names, engine.counters, std::u16string(path));
  engine.recorder.record(name, static_cast<std::uint32_t>(kind), pid, timestamp, nullptr, 1, 0.0);
  return result_ok;
}

TraceReplay replay_trace(EngineCore& engine, std::u16string_view file_name, std::span<const std::uint8_t> bytes,
                         const std::optional<std::u16string>& device_entries, TraceEventSink sink,
                         void* context) noexcept {
  std::lock_guard hold(engine.replay_lock);
  if (engine.running.load()) return refused_trace_replay(engine.counters, file_name, "the engine is running");
  return replay_trace(engine.decoding, file_name, bytes, device_entries, sink, context);
}

}  // namespace mirrow
