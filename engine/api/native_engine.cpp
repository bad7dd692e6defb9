#include "engine/api/native_engine.h"

#include <iterator>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "engine/activity/drain_format.h"
#include "engine/api/configuration.h"
#include "engine/api/engine_core.h"
#include "engine/api/host_events.h"
#include "engine/capture/intake.h"
#include "engine/capture/trace_replay.h"
#include "engine/core/result_codes.h"

// Everything this entry knows of the engine's internals is in this file, so
// a change to them is followed here alone.

namespace mirrow {
namespace {

// Each counter under the key the statistics and diagnostics give it.
constexpr std::pair<std::string_view, Counter> counter_keys[] = {
    {"events", Counter::events},
    {"errors", Counter::errors},
    {"unattributed", Counter::unattributed},
    {"key_derived_bindings", Counter::key_derived_bindings},
    {"own_io", Counter::own_io},
    {"dropped", Counter::dropped},
    {"watch_losses", Counter::watch_losses},
    {"watch_notifications", Counter::watch_notifications},
    {"initial_missing", Counter::initial_missing},
    {"late_recovered", Counter::late_recovered},
    {"no_identity", Counter::no_identity},
    {"name_not_seen", Counter::name_not_seen},
    {"pending_limit", Counter::pending_limit},
    {"mapping_evictions", Counter::mapping_evictions},
    {"unsupported", Counter::unsupported},
    {"malformed", Counter::malformed},
    {"pending_names", Counter::pending_names},
    {"io_total", Counter::io_total},
    {"newer_binding", Counter::newer_binding},
    {"manifest_names", Counter::manifest_names},
    {"classic_names", Counter::classic_names},
    {"helper_events", Counter::helper_events},
    {"own_reads", Counter::own_reads},
    {"own_writes", Counter::own_writes},
};
static_assert(std::size(counter_keys) == static_cast<std::size_t>(Counter::count), "every counter has its key");

// The engine's configuration calls take null-terminated paths.
std::u16string terminated(std::u16string_view path) { return std::u16string(path); }

}  // namespace

std::uint64_t counter_by_key(const EngineCore& core, std::string_view key) {
  for (const auto& [name, counter] : counter_keys) {
    if (name == key) return core.counters.get(counter);
  }
  throw std::invalid_argument("no engine counter is named " + std::string(key));
}

NativeEngine::NativeEngine() : core_(std::make_unique<EngineCore>()) {}
NativeEngine::~NativeEngine() = default;

void NativeEngine::set_own_pid(std::uint32_t pid) { core_->own_pid = pid; }

void NativeEngine::map_device(std::u16string_view device, std::u16string_view drive) {
  core_->names.device_map.push_back(DeviceMapping{std::u16string(device), std::u16string(drive)});
  sort_device_map(core_->names.device_map);
}

std::uint32_t NativeEngine::add_root(std::int64_t id, std::u16string_view path, bool recursive) {
  return mirrow::add_root(*core_, id, terminated(path).c_str(), recursive);
}

void NativeEngine::set_probe(std::u16string_view path) { mirrow::set_probe(core_->probe, terminated(path).c_str()); }

void NativeEngine::add_missing(std::u16string_view path) {
  mirrow::add_missing(core_->missing_paths, terminated(path).c_str());
}

void NativeEngine::track_missing_opens(bool track) { core_->missing_paths.track_missing_opens = track; }

std::uint32_t NativeEngine::add_exclusion(std::u16string_view path) {
  return mirrow::add_exclusion(*core_, terminated(path).c_str());
}

void NativeEngine::clear_missing() { mirrow::clear_missing(core_->missing_paths); }

std::uint32_t NativeEngine::test_recovery(bool on) { return set_missing_open_tracking(*core_, on); }

void NativeEngine::set_tick_source(std::uint64_t (*ticks)()) { core_->bindings.ticks = ticks; }

// The pure half of the start sequence, under replay_lock as there.
std::uint32_t NativeEngine::start(bool track_missing_opens) {
  std::lock_guard replays(core_->replay_lock);
  if (core_->running.load()) return result_already_running;
  core_->missing_paths.track_missing_opens = track_missing_opens;
  prepare_roots_for_start(core_->root_set);
  core_->running.store(true);
  return result_ok;
}

// The pure half of the stop sequence: like it, safe when repeated and on an
// engine that never started.
void NativeEngine::stop() noexcept {
  try {
    std::lock_guard replays(core_->replay_lock);
    finish_pending_at_stop(core_->bindings, core_->counters, core_->recorder);
  } catch (...) {
    core_->counters.add(Counter::errors);
  }
  core_->running.store(false);
}

bool NativeEngine::running() const noexcept { return core_->running.load(); }

std::uint32_t NativeEngine::replay_trace_file(std::span<const std::uint8_t> bytes, std::string& report,
                                              const std::u16string* device_entries) noexcept {
  try {
    const std::optional<std::u16string> entries =
        device_entries == nullptr ? std::nullopt : std::optional<std::u16string>(*device_entries);
    TraceReplay replay = replay_trace(*core_, u"", bytes, entries, &route_recorded_event, &core_->decoding);
    report = std::move(replay.report);
    return replay.status;
  } catch (...) {
    report.clear();
    return result_out_of_memory;
  }
}

void NativeEngine::replay(std::uint16_t id, std::uint8_t version, std::uint32_t pid, double unix_seconds,
                          const std::uint8_t* payload, std::uint64_t length) noexcept {
  decode_event(core_->decoding, id, version, 8, pid, unix_seconds, payload, length);
}

std::uint32_t NativeEngine::host_replay(std::uint16_t id, std::uint8_t version, std::uint32_t pid,
                                        double unix_seconds, const std::uint8_t* payload,
                                        std::uint64_t length) noexcept {
  return replay_event(*core_, ReplayEvent{id, version, 8, pid, unix_seconds, payload, length});
}

std::uint32_t NativeEngine::replay_many(std::uint16_t id, std::uint8_t version, std::uint32_t pid,
                                        double unix_seconds, const std::uint8_t* payload, std::uint64_t length,
                                        std::uint32_t count) noexcept {
  return replay_event_many(*core_, ReplayEvent{id, version, 8, pid, unix_seconds, payload, length}, count);
}

void NativeEngine::deliver(const LiveEvent& event) noexcept {
  EventView view;
  view.provider =
      event.provider == LiveProvider::classic_file_io ? EventProvider::classic_file_io : EventProvider::kernel_file;
  view.event_id = event.id;
  view.version = event.version;
  view.opcode = event.opcode;
  view.process_id = event.pid;
  view.timestamp = event.filetime;
  view.user_data = event.payload;
  view.user_data_length = event.length;
  route_event(core_->decoding, view);
}

void NativeEngine::record(std::u16string_view path, std::uint32_t kind, std::uint32_t pid, double unix_seconds,
                          std::uint64_t count) {
  const NameRef name = intern_name(core_->names, core_->counters, std::u16string(path));
  core_->recorder.record(name, kind, pid, unix_seconds, nullptr, count, 0.0);
}

std::uint32_t NativeEngine::test_emit(std::u16string_view path, std::int32_t kind, std::uint32_t pid,
                                      double unix_seconds) {
  return emit_test_activity(*core_, terminated(path).c_str(), kind, pid, unix_seconds);
}

std::string_view NativeEngine::drain() { return drain_activity(core_->activity); }

void NativeEngine::expire_due_pending() { mirrow::expire_due_pending(core_->bindings, core_->counters); }

std::uint64_t NativeEngine::counter(std::string_view key) const { return counter_by_key(*core_, key); }

std::vector<std::pair<std::string_view, std::uint64_t>> NativeEngine::counters() const {
  std::vector<std::pair<std::string_view, std::uint64_t>> all;
  all.reserve(std::size(counter_keys));
  for (const auto& [name, counter] : counter_keys) all.emplace_back(name, core_->counters.get(counter));
  return all;
}

NativeEngineSizes NativeEngine::sizes() const {
  EngineCore& engine = *core_;
  NativeEngineSizes sizes;
  {
    std::lock_guard lock(engine.names.names_lock);
    sizes.names = engine.names.name_table.size();
    for (const auto& entry : engine.names.name_table) {
      sizes.names_held_by_table_alone += entry.second.use_count() == 1 ? 1 : 0;
    }
  }
  {
    std::lock_guard lock(engine.activity.activity_lock);
    sizes.open_groups = engine.activity.groups.size();
    sizes.ready_groups = engine.activity.ready_groups.size();
  }
  {
    std::lock_guard lock(engine.bindings.pending_lock);
    sizes.pending_io = engine.bindings.pending_io.size();
  }
  // Touched by the decoding thread alone, which is the caller's.
  const BindingState& bindings = engine.bindings;
  sizes.object_bindings = bindings.object_bindings.size();
  sizes.key_bindings = bindings.key_bindings.size();
  sizes.previous_object_bindings = bindings.previous_object_bindings.size();
  sizes.previous_key_bindings = bindings.previous_key_bindings.size();
  sizes.name_bytes = engine.names.budget->bytes.load();
  sizes.pending_opens = engine.pending_opens.by_irp.size();
  return sizes;
}

NameMemoryWatch NativeEngine::watch_name_memory() const {
  NameMemoryWatch watch;
  watch.budget_ = core_->names.budget;
  return watch;
}

std::uint64_t NameMemoryWatch::charged_bytes() const { return budget_->bytes.load(); }

std::uint64_t NameMemoryWatch::pool_kept_bytes() const { return budget_->blocks.kept_bytes(); }

long NameMemoryWatch::other_holders() const { return budget_.use_count() - 1; }

TraceReading read_trace_file(std::span<const std::uint8_t> bytes) {
  trace_file::Reader reader(bytes);
  TraceReading reading;
  reading.readable = reader.problem().empty();
  std::uint64_t touched = 0;
  reader.read([&](const trace_file::Event& event) { touched += event.user_data_length; });
  const trace_file::Figures& figures = reader.figures();
  reading.events = figures.events;
  reading.buffers = figures.buffers;
  reading.decompressed_bytes = figures.decompressed_bytes;
  reading.skipped = figures.skipped;
  return reading;
}

}  // namespace mirrow
