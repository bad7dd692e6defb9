#include "engine/capture/decoder.h"

#include <cmath>
#include <mutex>

#include "common/clock.h"
#include "engine/capture/binding.h"
#include "engine/capture/payload_parse.h"
#include "engine/core/activity_kind.h"
#include "engine/core/configuration.h"
#include "engine/core/engine_core.h"

namespace mirrow {
namespace {

constexpr std::uint64_t prune_every_events = 4096;
constexpr std::uint64_t recover_every_events = 1024;

constexpr std::uint32_t status_no_such_file = 0xC000000F;
constexpr std::uint32_t status_name_not_found = 0xC0000034;
constexpr std::uint32_t status_path_not_found = 0xC000003A;

// Pruning, relief of the name budget and late recovery are spread over the
// event stream by its count.
void run_maintenance(EngineCore& engine, std::uint64_t n) {
  if (n % prune_every_events == 0) {
    prune_bindings(engine);
    relieve_name_budget(engine);
  }
  if (engine.counters.get(Counter::pending_names) != 0 && n % recover_every_events == 0) {
    recover_pending(engine, false);
  }
}

bool is_read_or_write(std::uint16_t id) { return id == file_event::read || id == file_event::write; }

bool version_only_zero(std::uint16_t id) {
  return id == file_event::name_create || id == file_event::name_delete || id == file_event::operation_end;
}

// Ids of the provider that carry nothing the engine uses.
bool is_ignored_id(std::uint16_t id) {
  if (id < 10 || id > 30) return true;
  return id == 13 || (id >= 17 && id <= 23) || id == 25 || id == 28 || id == 29;
}

bool is_not_found(std::uint32_t status) {
  return status == status_no_such_file || status == status_name_not_found || status == status_path_not_found;
}

// A create of a watched missing path is remembered by its IRP until the
// operation-end event tells whether it failed as not found.
void remember_missing_open(EngineCore& engine, std::uint64_t irp, const NameRef& name, std::uint32_t process_id,
                           double timestamp) {
  if (!engine.track_missing_opens || !name || irp == 0) return;
  if (!engine.missing_filter.may_contain(name->hash)) return;
  std::lock_guard<std::mutex> guard(engine.missing_lock);
  // The name's hash is the path hash of the set: the path is not hashed again.
  if (engine.missing.find(std::u16string_view(name->path), name->hash) == nullptr) return;
  auto& opens = engine.pending_opens.by_irp;
  // A full map is emptied whole; replacing an entry that is already there
  // does not grow it, so it never triggers that.
  if (opens.size() >= pending_open_cap && opens.find(irp) == opens.end()) {
    opens.clear();
    engine.counters.add(Counter::errors);
  }
  opens.insert_or_assign(irp, PendingOpen{name, process_id, engine.bindings.ticks(), timestamp});
}

void on_name_event(EngineCore& engine, std::uint16_t id, PayloadCursor& cursor, double timestamp) {
  engine.counters.add(Counter::manifest_names);
  std::u16string& path = engine.bindings.name_scratch;
  const std::uint64_t file_key = parse_name_event(cursor, path);
  engine.bindings.key_bindings.prefetch(file_key);  // while the name is made
  const NameRef name = intern_event_name(engine, engine.bindings.recent_names, path);
  if (id == file_event::name_create) bind_name(engine, BindingMapId::keys, file_key, name, timestamp);
  else close_binding(engine, BindingMapId::keys, file_key, timestamp);
}

void on_create(EngineCore& engine, std::uint16_t id, std::uint8_t version, PayloadCursor& cursor,
               std::uint32_t process_id, double timestamp) {
  std::u16string& path = engine.bindings.name_scratch;
  const CreateFields f = parse_create(cursor, version, path);
  engine.bindings.object_bindings.prefetch(f.file_object);  // while the name is made
  const NameRef name = intern_event_name(engine, engine.bindings.recent_names, path);
  bind_name(engine, BindingMapId::objects, f.file_object, name, timestamp);
  remember_missing_open(engine, f.irp, name, process_id, timestamp);
  if (id == file_event::create_new_file) {
    record_activity(engine, name, kind_created, process_id, timestamp, no_name, 1, 0.0);
  }
}

// A close carries both identities: the object's name, if it covers the
// close, becomes the key's name, and the object binding ends here.
void on_close(EngineCore& engine, std::uint8_t version, PayloadCursor& cursor, double timestamp) {
  const IdentityFields f = parse_close(cursor, version);
  engine.bindings.key_bindings.prefetch(f.file_key);  // while the object is looked up
  const Binding* object = engine.bindings.object_bindings.find(f.file_object);
  if (object != nullptr && object->start <= timestamp && timestamp <= object->end) {
    bind_name(engine, BindingMapId::keys, f.file_key, object->name, object->start);
  }
  close_binding(engine, BindingMapId::objects, f.file_object, timestamp);
}

void on_operation_end(EngineCore& engine, PayloadCursor& cursor, double timestamp) {
  const OperationEndFields f = parse_operation_end(cursor);
  auto& opens = engine.pending_opens.by_irp;
  auto it = opens.find(f.irp);
  if (it == opens.end()) return;
  const PendingOpen open = std::move(it->second);
  opens.erase(it);
  const bool recent = ms_since(open.stored_ticks, engine.bindings.ticks()) < pending_open_life_ms;
  if (recent && is_not_found(f.status)) {
    record_activity(engine, open.name, kind_missing_open, open.process_id, timestamp, no_name, 1, 0.0);
  }
}

void on_path_event(EngineCore& engine, std::uint16_t id, std::uint8_t version, PayloadCursor& cursor,
                   std::uint32_t process_id, double timestamp) {
  std::u16string& path = engine.bindings.name_scratch;
  parse_path_event(cursor, version, path);
  const NameRef name = intern_event_name(engine, engine.bindings.recent_names, path);
  const std::uint32_t kind = id == file_event::delete_path ? kind_deleted : kind_renamed;
  record_activity(engine, name, kind, process_id, timestamp, no_name, 1, 0.0);
}

void dispatch(EngineCore& engine, std::uint16_t id, std::uint8_t version, PayloadCursor& cursor,
              std::uint32_t process_id, double timestamp) {
  switch (id) {
    case file_event::name_create:
    case file_event::name_delete:
      return on_name_event(engine, id, cursor, timestamp);
    case file_event::create:
    case file_event::create_new_file:
      return on_create(engine, id, version, cursor, process_id, timestamp);
    case file_event::close:
      return on_close(engine, version, cursor, timestamp);
    case file_event::read:
    case file_event::write: {
      const IdentityFields f = parse_io(cursor, version);
      const std::uint32_t kind = id == file_event::read ? kind_read : kind_write;
      return attribute_io(engine, f.file_object, f.file_key, kind, process_id, timestamp);
    }
    case file_event::operation_end:
      return on_operation_end(engine, cursor, timestamp);
    case file_event::delete_path:
    case file_event::rename_path:
      return on_path_event(engine, id, version, cursor, process_id, timestamp);
    default:
      return;
  }
}

void count_malformed(EngineCore& engine) noexcept {
  engine.counters.add(Counter::errors);
  engine.counters.add(Counter::malformed);
}

}  // namespace

void decode_event(EngineCore& engine, std::uint16_t event_id, std::uint8_t version, std::uint32_t pointer_size,
                  std::uint32_t process_id, double timestamp, const std::uint8_t* payload,
                  std::uint64_t length) noexcept {
  Counters& counters = engine.counters;
  // Only the decoding thread writes events, so a plain load and store is an
  // exact increment and spares the hot path a locked read-modify-write.
  const std::uint64_t n = counters.get(Counter::events) + 1;
  counters.store(Counter::events, n);
  try {
    run_maintenance(engine, n);
  } catch (...) {
    counters.add(Counter::errors);
  }
  if (!std::isfinite(timestamp) || timestamp < 0.0) {
    counters.add(Counter::errors);
    return;
  }
  if (is_read_or_write(event_id) && process_id == engine.own_pid) {
    counters.add(Counter::own_io);
    counters.add(event_id == file_event::read ? Counter::own_reads : Counter::own_writes);
    return;
  }
  if (event_id == file_event::operation_end && engine.pending_opens.by_irp.empty()) return;
  if (pointer_size != 4 && pointer_size != 8) return count_malformed(engine);
  if (version > 1 || (version_only_zero(event_id) && version != 0)) {
    counters.add(Counter::unsupported);
    counters.add(Counter::errors);
    return;
  }
  if (is_ignored_id(event_id)) return;
  if (payload == nullptr) length = 0;
  try {
    PayloadCursor cursor(payload, length, pointer_size);
    dispatch(engine, event_id, version, cursor, process_id, timestamp);
  } catch (...) {
    count_malformed(engine);
  }
}

namespace {

bool replay_refused(const EngineCore& engine, const ReplayEvent& event) {
  return engine.running.load() || (event.payload == nullptr && event.length != 0);
}

void decode_replayed(EngineCore& engine, const ReplayEvent& e) noexcept {
  decode_event(engine, e.event_id, e.version, e.pointer_size, e.process_id, e.timestamp, e.payload, e.length);
}

}  // namespace

std::uint32_t replay_event(EngineCore& engine, const ReplayEvent& event) noexcept {
  std::lock_guard hold(engine.replay_lock);
  if (replay_refused(engine, event)) return result_invalid;
  decode_replayed(engine, event);
  try {
    recover_pending(engine, true);
  } catch (...) {
    engine.counters.add(Counter::errors);
  }
  return result_ok;
}

std::uint32_t replay_event_many(EngineCore& engine, const ReplayEvent& event, std::uint32_t repeat) noexcept {
  std::lock_guard hold(engine.replay_lock);
  if (replay_refused(engine, event) || repeat > replay_repeat_cap) return result_invalid;
  for (std::uint32_t i = 0; i < repeat; ++i) decode_replayed(engine, event);
  return result_ok;
}

}  // namespace mirrow
