#include "engine/capture/decoder.h"

#include <cmath>
#include <mutex>

#include "common/clock.h"
#include "engine/capture/binding.h"
#include "engine/capture/payload_parse.h"
#include "engine/core/activity_kind.h"
#include "engine/core/caps.h"

namespace mirrow {
namespace {

constexpr std::uint32_t status_no_such_file = 0xC000000F;
constexpr std::uint32_t status_name_not_found = 0xC0000034;
constexpr std::uint32_t status_path_not_found = 0xC000003A;

// Pruning, relief of the name budget and late recovery are spread over the
// event stream by its count.
void run_maintenance(const Decoding& d, std::uint64_t n) {
  if (n % caps::prune_every_events == 0) {
    prune_bindings(d.bindings, d.names);
    relieve_name_budget(d.bindings, d.names, d.counters);
  }
  if (d.counters.get(Counter::pending_names) != 0 && n % caps::recover_every_events == 0) {
    recover_pending(d.bindings, d.counters, d.activity, false);
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
void remember_missing_open(const Decoding& d, std::uint64_t irp, const NameRef& name, std::uint32_t process_id,
                           double timestamp) {
  MissingPaths& missing = d.missing;
  if (!missing.track_missing_opens || !name || irp == 0) return;
  if (!missing.missing_filter.may_contain(name->hash)) return;
  std::lock_guard<std::mutex> guard(missing.missing_lock);
  // The name's hash is the path hash of the set: the path is not hashed again.
  if (missing.missing.find(std::u16string_view(name->path), name->hash) == nullptr) return;
  auto& opens = d.pending_opens.by_irp;
  // A full map is emptied whole; replacing an entry that is already there
  // does not grow it, so it never triggers that.
  if (opens.size() >= pending_open_cap && opens.find(irp) == opens.end()) {
    opens.clear();
    d.counters.add(Counter::errors);
  }
  opens.insert_or_assign(irp, PendingOpen{name, process_id, d.bindings.ticks(), timestamp});
}

void on_name_event(const Decoding& d, std::uint16_t id, PayloadCursor& cursor, double timestamp) {
  d.counters.add(Counter::manifest_names);
  std::u16string& path = d.bindings.name_scratch;
  const std::uint64_t file_key = parse_name_event(cursor, path);
  d.bindings.key_bindings.prefetch(file_key);  // while the name is made
  const NameRef name = intern_event_name(d.names, d.counters, d.bindings.recent_names, path);
  if (id == file_event::name_create) bind_name(d.bindings, d.counters, BindingMapId::keys, file_key, name, timestamp);
  else close_binding(d.bindings, BindingMapId::keys, file_key, timestamp);
}

void on_create(const Decoding& d, std::uint16_t id, std::uint8_t version, PayloadCursor& cursor,
               std::uint32_t process_id, double timestamp) {
  std::u16string& path = d.bindings.name_scratch;
  const CreateFields f = parse_create(cursor, version, path);
  d.bindings.object_bindings.prefetch(f.file_object);  // while the name is made
  const NameRef name = intern_event_name(d.names, d.counters, d.bindings.recent_names, path);
  bind_name(d.bindings, d.counters, BindingMapId::objects, f.file_object, name, timestamp);
  remember_missing_open(d, f.irp, name, process_id, timestamp);
  if (id == file_event::create_new_file) {
    d.activity.record(name, kind_created, process_id, timestamp, no_name, 1, 0.0);
  }
}

// A close carries both identities: the object's name, if it covers the
// close, becomes the key's name, and the object binding ends here.
void on_close(const Decoding& d, std::uint8_t version, PayloadCursor& cursor, double timestamp) {
  const IdentityFields f = parse_close(cursor, version);
  d.bindings.key_bindings.prefetch(f.file_key);  // while the object is looked up
  const Binding* object = d.bindings.object_bindings.find(f.file_object);
  if (object != nullptr && object->start <= timestamp && timestamp <= object->end) {
    bind_name(d.bindings, d.counters, BindingMapId::keys, f.file_key, object->name, object->start);
  }
  close_binding(d.bindings, BindingMapId::objects, f.file_object, timestamp);
}

void on_operation_end(const Decoding& d, PayloadCursor& cursor, double timestamp) {
  const OperationEndFields f = parse_operation_end(cursor);
  auto& opens = d.pending_opens.by_irp;
  auto it = opens.find(f.irp);
  if (it == opens.end()) return;
  const PendingOpen open = std::move(it->second);
  opens.erase(it);
  const bool recent = ms_since(open.stored_ticks, d.bindings.ticks()) < pending_open_life_ms;
  if (recent && is_not_found(f.status)) {
    d.activity.record(open.name, kind_missing_open, open.process_id, timestamp, no_name, 1, 0.0);
  }
}

void on_path_event(const Decoding& d, std::uint16_t id, std::uint8_t version, PayloadCursor& cursor,
                   std::uint32_t process_id, double timestamp) {
  std::u16string& path = d.bindings.name_scratch;
  parse_path_event(cursor, version, path);
  const NameRef name = intern_event_name(d.names, d.counters, d.bindings.recent_names, path);
  const std::uint32_t kind = id == file_event::delete_path ? kind_deleted : kind_renamed;
  d.activity.record(name, kind, process_id, timestamp, no_name, 1, 0.0);
}

void dispatch(const Decoding& d, std::uint16_t id, std::uint8_t version, PayloadCursor& cursor,
              std::uint32_t process_id, double timestamp) {
  switch (id) {
    case file_event::name_create:
    case file_event::name_delete:
      return on_name_event(d, id, cursor, timestamp);
    case file_event::create:
    case file_event::create_new_file:
      return on_create(d, id, version, cursor, process_id, timestamp);
    case file_event::close:
      return on_close(d, version, cursor, timestamp);
    case file_event::read:
    case file_event::write: {
      const IdentityFields f = parse_io(cursor, version);
      const std::uint32_t kind = id == file_event::read ? kind_read : kind_write;
      return attribute_io(d, f.file_object, f.file_key, kind, process_id, timestamp);
    }
    case file_event::operation_end:
      return on_operation_end(d, cursor, timestamp);
    case file_event::delete_path:
    case file_event::rename_path:
      return on_path_event(d, id, version, cursor, process_id, timestamp);
    default:
      return;
  }
}

void count_malformed(Counters& counters) noexcept {
  counters.add(Counter::errors);
  counters.add(Counter::malformed);
}

}  // namespace

void decode_event(const Decoding& d, std::uint16_t event_id, std::uint8_t version, std::uint32_t pointer_size,
                  std::uint32_t process_id, double timestamp, const std::uint8_t* payload,
                  std::uint64_t length) noexcept {
  Counters& counters = d.counters;
  // Only the decoding thread writes events, so a plain load and store is an
  // exact increment and spares the hot path a locked read-modify-write.
  const std::uint64_t n = counters.get(Counter::events) + 1;
  counters.store(Counter::events, n);
  try {
    run_maintenance(d, n);
  } catch (...) {
    counters.add(Counter::errors);
  }
  if (!std::isfinite(timestamp) || timestamp < 0.0) {
    counters.add(Counter::errors);
    return;
  }
  if (is_read_or_write(event_id) && process_id == d.own_pid) {
    counters.add(Counter::own_io);
    counters.add(event_id == file_event::read ? Counter::own_reads : Counter::own_writes);
    return;
  }
  if (event_id == file_event::operation_end && d.pending_opens.by_irp.empty()) return;
  if (pointer_size != 4 && pointer_size != 8) return count_malformed(counters);
  if (version > 1 || (version_only_zero(event_id) && version != 0)) {
    counters.add(Counter::unsupported);
    counters.add(Counter::errors);
    return;
  }
  if (is_ignored_id(event_id)) return;
  if (payload == nullptr) length = 0;
  try {
    PayloadCursor cursor(payload, length, pointer_size);
    dispatch(d, event_id, version, cursor, process_id, timestamp);
  } catch (...) {
    count_malformed(counters);
  }
}

void recover_after_replay(const Decoding& d) noexcept {
  try {
    recover_pending(d.bindings, d.counters, d.activity, true);
  } catch (...) {
    d.counters.add(Counter::errors);
  }
}

}  // namespace mirrow
