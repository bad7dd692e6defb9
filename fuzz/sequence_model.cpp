#include "fuzz/sequence_model.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "engine/core/caps.h"

namespace mirrow::fuzz {
namespace {

constexpr std::uint64_t recovery_interval_ms = 250;
constexpr std::uint64_t give_up_ms = 2000;
constexpr std::uint64_t prune_interval_ms = 5000;
constexpr std::uint64_t pending_open_life_ms = 30000;

std::uint64_t ms_since(std::uint64_t earlier, std::uint64_t now) { return now > earlier ? now - earlier : 0; }

bool starts_with(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

// The prefix rule of roots, exclusions and device paths.
bool is_under(std::u16string_view path, std::u16string_view prefix) {
  if (!starts_with(path, prefix)) return false;
  return path.size() == prefix.size() || (!prefix.empty() && prefix.back() == u'\\') || path[prefix.size()] == u'\\';
}

// The normal form, for the ASCII paths the script uses.
std::u16string normalise(std::u16string_view raw) {
  std::u16string p(raw);
  std::replace(p.begin(), p.end(), u'/', u'\\');
  if (starts_with(p, u"\\??\\")) {
    p.erase(0, 4);
  } else if (starts_with(p, u"\\\\?\\UNC\\")) {
    p.replace(0, 8, u"\\\\");
  } else if (starts_with(p, u"\\\\?\\")) {
    p.erase(0, 4);
  }
  for (char16_t& unit : p) {
    if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit - u'A' + u'a');
  }
  while (p.size() > 3 && p.back() == u'\\') p.pop_back();
  return p;
}

bool is_not_found(std::uint32_t status) {
  return status == 0xC000000F || status == 0xC0000034 || status == 0xC000003A;
}

bool taken_in_version_zero_only(std::uint16_t id) {
  return id == event_id::name_create || id == event_id::name_delete || id == event_id::operation_end;
}

bool ignored_id(std::uint16_t id) {
  return id < 10 || id > 30 || id == 13 || (id >= 17 && id <= 23) || id == 25 || id == 28 || id == 29;
}

std::uint64_t whole(double value) { return value >= 1.0 ? static_cast<std::uint64_t>(value) : 0; }

std::uint64_t estimate(const std::u16string& name) { return 6 * static_cast<std::uint64_t>(name.size()) + 256; }

double wall_clock_seconds() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

const char* const model_counter_keys[counter_count] = {
    "events",        "errors",        "unattributed",    "key_derived_bindings", "own_io",         "dropped",
    "watch_losses",  "watch_notifications", "initial_missing", "late_recovered", "no_identity",    "name_not_seen",
    "pending_limit", "mapping_evictions",   "unsupported",     "malformed",      "pending_names",  "io_total",
    "newer_binding", "manifest_names",      "classic_names",   "helper_events",  "own_reads",      "own_writes",
};

SequenceModel::SequenceModel(const std::uint64_t* now_ms) : now_ms_(now_ms) {}

double SequenceModel::unix_seconds(std::int64_t filetime) {
  const std::int64_t since_1970 = filetime - filetime_of_1970;
  const std::int64_t seconds = since_1970 / 10000000;  // toward zero
  const std::int64_t rest = since_1970 - seconds * 10000000;
  return static_cast<double>(seconds) + static_cast<double>(rest) / 10000000.0;
}

// ---- configuration ----------------------------------------------------------

void SequenceModel::map_device(std::u16string_view device, std::u16string_view drive) {
  devices_.emplace_back(normalise(device), normalise(drive));
  std::stable_sort(devices_.begin(), devices_.end(),
                   [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
}

std::uint32_t SequenceModel::add_root(std::int64_t id, std::u16string_view path, bool flag) {
  if (id < 1 || running_) return 87;
  roots_.push_back(Root{id, normalise(path), flag});
  return 0;
}

std::uint32_t SequenceModel::add_exclusion(std::u16string_view path) {
  if (running_) return 87;
  exclusions_.push_back(normalise(path));
  return 0;
}

void SequenceModel::add_missing(std::u16string_view path) { missing_.insert(normalise(path)); }

std::uint32_t SequenceModel::test_recovery(bool on) {
  if (running_) return 87;
  track_missing_opens_ = on;
  return 0;
}

std::uint32_t SequenceModel::start(bool track_missing_opens) {
  if (running_) return 183;
  track_missing_opens_ = track_missing_opens;
  // Flagged roots first, then the deeper ones: the first match is the most
  // specific root of the highest priority.
  std::stable_sort(roots_.begin(), roots_.end(), [](const Root& a, const Root& b) {
    if (a.flag != b.flag) return a.flag;
    return a.path.size() > b.path.size();
  });
  running_ = true;
  return 0;
}

void SequenceModel::stop() {
  recover(true);
  expire_pending(true);
  running_ = false;
}

// ---- names and classification -----------------------------------------------

std::u16string SequenceModel::intern(std::u16string_view raw) const {
  std::u16string path = normalise(raw);
  for (const auto& [device, drive] : devices_) {
    if (is_under(path, device)) return drive + path.substr(device.size());
  }
  return path;
}

std::int64_t SequenceModel::classify(const std::u16string& path) const {
  if (path.size() < 3) return 0;
  if (path[1] != u':' && !starts_with(path, u"\\\\")) return 0;
  for (const std::u16string& excluded : exclusions_) {
    if (is_under(path, excluded)) return 0;
  }
  for (const Root& root : roots_) {
    if (is_under(path, root.path)) return root.id;
  }
  return 0;
}

// ---- binding ---------------------------------------------------------------------

bool SequenceModel::bind(MapId map, std::uint64_t identity, const std::u16string& name, double t) {
  if (identity == 0) return false;
  Bindings& bindings = current(map);
  const auto found = bindings.find(identity);
  if (found == bindings.end()) {
    bindings[identity] = Binding{name, t, open_end};
    return true;
  }
  Binding& b = found->second;
  if (b.name == name && b.end >= t) {
    b.start = std::min(b.start, t);
    return false;
  }
  if (t < b.start) return false;  // an older name never overrides a newer binding
  history(map)[identity] = Binding{b.name, b.start, std::min(b.end, t)};
  b = Binding{name, t, open_end};
  return true;
}

void SequenceModel::close(MapId map, std::uint64_t identity, double t) {
  Bindings& bindings = current(map);
  const auto found = bindings.find(identity);
  if (found != bindings.end() && t >= found->second.start) found->second.end = std::min(found->second.end, t);
}

SequenceModel::Resolution SequenceModel::resolve(std::uint64_t file_object, std::uint64_t file_key, double t) const {
  const std::pair<const Bindings*, std::uint64_t> order[] = {
      {&objects_, file_object}, {&previous_objects_, file_object}, {&keys_, file_key}, {&previous_keys_, file_key}};
  for (const auto& [bindings, identity] : order) {
    const auto found = bindings->find(identity);
    if (found == bindings->end()) continue;
    const Binding& b = found->second;
    if (b.start <= t && t <= b.end) return Resolution{true, b.name, b.start, b.end};
  }
  return Resolution{};
}

bool SequenceModel::has_newer(std::uint64_t file_object, std::uint64_t file_key, double t) const {
  const auto object = objects_.find(file_object);
  if (object != objects_.end() && object->second.start > t) return true;
  const auto key = keys_.find(file_key);
  return key != keys_.end() && key->second.start > t;
}

void SequenceModel::attribute(std::uint64_t file_object, std::uint64_t file_key, std::uint32_t kind,
                              std::uint32_t pid, double t) {
  add(Count::io_total);
  const Resolution r = resolve(file_object, file_key, t);
  if (r.found) {
    record(r.name, kind, pid, t, 1, t);
    if (r.end == open_end) {
      // A name from an open binding spreads to the other identity.
      const auto object = objects_.find(file_object);
      if (object != objects_.end() && t >= object->second.start) {
        bind(MapId::keys, file_key, r.name, r.start);
      } else if (bind(MapId::objects, file_object, r.name, r.start)) {
        // Counted only when the object is bound by it: a read without a
        // file object, or of one bound later, derives nothing.
        add(Count::key_derived_bindings);
      }
    }
    return;
  }
  add(Count::initial_missing);
  const Pending p{file_object, file_key, 1, kind, pid, t, t, *now_ms_, has_newer(file_object, file_key, t)};
  if (file_object == 0 && file_key == 0) return give_up(p, Count::no_identity);
  const PendingKey key{file_object, file_key, whole(t * 0.5), pid, kind};
  const auto found = pending_.find(key);
  if (found != pending_.end()) {
    Pending& merged = found->second;
    merged.count += 1;
    merged.first = std::min(merged.first, t);
    merged.last = std::max(merged.last, t);
  } else {
    pending_[key] = p;
  }
  counters_[at(Count::pending_names)] = pending_.size();
}

void SequenceModel::give_up(const Pending& p, Count reason) {
  add(Count::unattributed, p.count);
  add(reason, p.count);
}

// A forced pass with nothing pending leaves the time of the last pass as it
// was, as the engine does: the pass is a rate limit, not a rule of what is
// attributed.
void SequenceModel::recover(bool forced) {
  if (forced && pending_.empty()) return;
  const std::uint64_t now = *now_ms_;
  if (!forced && ms_since(last_recovery_ms_, now) < recovery_interval_ms) return;
  last_recovery_ms_ = now;
  if (pending_.empty()) return;
  for (auto it = pending_.begin(); it != pending_.end();) {
    Pending& e = it->second;
    const Resolution r = resolve(e.file_object, e.file_key, e.first);
    if (!e.newer) e.newer = has_newer(e.file_object, e.file_key, e.first);
    if (r.found) {
      record(r.name, e.kind, e.pid, e.first, e.count, e.last);
      add(Count::late_recovered, e.count);
      it = pending_.erase(it);
    } else if (ms_since(e.created_ms, now) >= give_up_ms) {
      give_up(e, e.newer ? Count::newer_binding : Count::name_not_seen);
      it = pending_.erase(it);
    } else {
      ++it;
    }
  }
  counters_[at(Count::pending_names)] = pending_.size();
}

void SequenceModel::expire_pending(bool all) {
  const std::uint64_t now = *now_ms_;
  for (auto it = pending_.begin(); it != pending_.end();) {
    if (all || ms_since(it->second.created_ms, now) >= give_up_ms) {
      give_up(it->second, it->second.newer ? Count::newer_binding : Count::name_not_seen);
      it = pending_.erase(it);
    } else {
      ++it;
    }
  }
  counters_[at(Count::pending_names)] = pending_.size();
}

void SequenceModel::prune() {
  const std::uint64_t now = *now_ms_;
  if (ms_since(last_prune_ms_, now) < prune_interval_ms) return;
  last_prune_ms_ = now;
  // The script's times lie years before the wall clock: every ended
  // binding is past the horizon, every open one never is.
  const double horizon = wall_clock_seconds() - 10.0;
  for (Bindings* bindings : {&objects_, &keys_, &previous_objects_, &previous_keys_}) {
    std::erase_if(*bindings, [horizon](const auto& entry) { return entry.second.end < horizon; });
  }
}

void SequenceModel::maintain(std::uint64_t n) {
  if (n % caps::prune_every_events == 0) prune();
  if (counters_[at(Count::pending_names)] != 0 && n % caps::recover_every_events == 0) recover(false);
}

// ---- decoding --------------------------------------------------------------------

void SequenceModel::decode(const Step& e, double t) {
  const std::uint64_t n = ++counters_[at(Count::events)];
  maintain(n);
  if (!std::isfinite(t) || t < 0.0) return add(Count::errors);
  const bool io = e.id == event_id::read || e.id == event_id::write;
  if (io && e.pid == own_pid_) {
    add(Count::own_io);
    return add(e.id == event_id::read ? Count::own_reads : Count::own_writes);
  }
  if (e.id == event_id::operation_end && pending_opens_.empty()) return;
  if (e.version > 1 || (taken_in_version_zero_only(e.id) && e.version != 0)) {
    add(Count::unsupported);
    return add(Count::errors);
  }
  if (ignored_id(e.id)) return;
  if (e.damage == Damage::truncated) {
    // A name event is counted before its payload is read.
    if (e.id == event_id::name_create || e.id == event_id::name_delete) add(Count::manifest_names);
    add(Count::errors);
    return add(Count::malformed);
  }
  dispatch(e, t);
}

void SequenceModel::dispatch(const Step& e, double t) {
  switch (e.id) {
    case event_id::name_create:
    case event_id::name_delete: {
      add(Count::manifest_names);
      const std::u16string name = intern(e.path);
      if (e.id == event_id::name_create) bind(MapId::keys, e.file_key, name, t);
      else close(MapId::keys, e.file_key, t);
      return;
    }
    case event_id::create:
    case event_id::create_new_file: {
      const std::u16string name = intern(e.path);
      bind(MapId::objects, e.file_object, name, t);
      if (track_missing_opens_ && e.irp != 0 && missing_.count(name) != 0) {
        pending_opens_[e.irp] = PendingOpen{name, e.pid, *now_ms_};
      }
      if (e.id == event_id::create_new_file) record(name, 3, e.pid, t, 1, t);
      return;
    }
    case event_id::close: {
      const auto object = objects_.find(e.file_object);
      if (object != objects_.end() && object->second.start <= t && t <= object->second.end) {
        const Binding named = object->second;
        bind(MapId::keys, e.file_key, named.name, named.start);
      }
      return close(MapId::objects, e.file_object, t);
    }
    case event_id::read:
    case event_id::write:
      return attribute(e.file_object, e.file_key, e.id == event_id::read ? 1 : 2, e.pid, t);
    case event_id::operation_end: {
      const auto found = pending_opens_.find(e.irp);
      if (found == pending_opens_.end()) return;
      const PendingOpen open = found->second;
      pending_opens_.erase(found);
      if (ms_since(open.stored_ms, *now_ms_) < pending_open_life_ms && is_not_found(e.status)) {
        record(open.name, 6, open.pid, t, 1, t);
      }
      return;
    }
    case event_id::delete_path:
    case event_id::rename_path:
      return record(intern(e.path), e.id == event_id::delete_path ? 4 : 5, e.pid, t, 1, t);
    default:
      return;
  }
}

std::uint32_t SequenceModel::host_replay(const Step& e, double t) {
  if (running_) return 87;
  decode(e, t);
  recover(true);
  return 0;
}

void SequenceModel::classic(const Step& e) {
  if (e.opcode != 0 && e.opcode != 32 && e.opcode != 35 && e.opcode != 36) return;
  if (e.damage == Damage::short_payload || e.damage == Damage::truncated) {
    add(Count::errors);
    return add(Count::malformed);
  }
  const std::int64_t filetime = e.damage == Damage::bad_time ? 0 : e.filetime;
  const double t = unix_seconds(filetime);
  const std::u16string name = intern(e.path);
  add(Count::classic_names);
  if (e.opcode == 35) close(MapId::keys, e.file_key, t);
  else bind(MapId::keys, e.file_key, name, t);
}

std::uint32_t SequenceModel::test_emit(std::u16string_view path, std::int32_t kind, std::uint32_t pid, double t) {
  if (kind < 1 || kind > 10 || !std::isfinite(t) || running_) return 87;
  record(intern(path), static_cast<std::uint32_t>(kind), pid, t, 1, t);
  return 0;
}

// ---- aggregation and the drain ------------------------------------------------

void SequenceModel::record(const std::u16string& name, std::uint32_t kind, std::uint32_t pid, double first,
                           std::uint64_t count, double last) {
  if (pid == own_pid_) return;
  const std::int64_t root = classify(name);
  if (root == 0) return;
  const GroupKey key{name, whole(first / 5.0), pid, kind};
  const auto found = groups_.find(key);
  if (found == groups_.end()) {
    groups_[key] = Group{root, name, pid, kind, count, first, last};
    return;
  }
  Group& g = found->second;
  g.count += count;
  g.first = std::min(g.first, first);
  g.last = std::max(g.last, last);
}

void SequenceModel::queue_open_groups() {
  ++drains_;
  std::vector<Group> queued;
  for (auto& entry : groups_) queued.push_back(std::move(entry.second));
  groups_.clear();
  std::stable_sort(queued.begin(), queued.end(), [](const Group& a, const Group& b) { return a.last < b.last; });
  for (Group& g : queued) ready_.push_back(ReadyGroup{drains_, std::move(g)});
}

namespace {

bool same(const DrainRecord& r, std::int64_t root, const std::u16string& name, std::uint32_t kind, std::uint32_t pid,
          std::uint64_t count, double first, double last) {
  return r.root == root && r.name == name && r.kind == kind && r.pid == pid && r.second.empty() && r.count == count &&
         r.first == first && r.last == last;
}

}  // namespace

std::string SequenceModel::take_drain(const std::vector<DrainRecord>& batch) {
  queue_open_groups();
  // The groups a drain queues are ordered by their last time; those of
  // equal last time may come in any order, so each record must be one of
  // the groups at the head that share the head's drain and last time.
  auto head_ties = [this] {
    std::size_t n = 0;
    while (n < ready_.size() && ready_[n].drain == ready_[0].drain && ready_[n].group.last == ready_[0].group.last) ++n;
    return n;
  };
  std::uint64_t running = 0;
  for (std::size_t i = 0; i < batch.size(); ++i) {
    const DrainRecord& r = batch[i];
    if (i >= caps::drain_batch_groups) return "the batch holds more than " + std::to_string(caps::drain_batch_groups) + " records";
    if (ready_.empty()) return "the engine drained " + describe(r) + " where the model holds nothing";
    const std::size_t ties = head_ties();
    std::size_t match = ties;
    for (std::size_t j = 0; j < ties; ++j) {
      const Group& g = ready_[j].group;
      if (same(r, g.root, g.name, g.kind, g.pid, g.count, g.first, g.last)) match = j;
    }
    if (match == ties) {
      const Group& g = ready_[0].group;
      DrainRecord expected{g.first, g.root, g.name, g.kind, g.pid, u"", g.count, g.last};
      return "record " + std::to_string(i) + " is " + describe(r) + " where the model's next is " + describe(expected) +
             " (or one of " + std::to_string(ties) + " of equal last time)";
    }
    const std::uint64_t size = estimate(ready_[match].group.name);
    if (i > 0 && running + size > caps::drain_batch_bytes) return "the batch goes past its text estimate at record " + std::to_string(i);
    running += size;
    ready_.erase(ready_.begin() + static_cast<std::ptrdiff_t>(match));
  }
  if (batch.size() < caps::drain_batch_groups && !ready_.empty()) {
    if (batch.empty()) return "the drain is empty while the model holds " + std::to_string(ready_.size()) + " groups";
    const std::size_t ties = head_ties();
    bool one_would_overflow = false;
    for (std::size_t j = 0; j < ties; ++j) {
      one_would_overflow = one_would_overflow || running + estimate(ready_[j].group.name) > caps::drain_batch_bytes;
    }
    if (!one_would_overflow) {
      return "the batch stops after " + std::to_string(batch.size()) + " records although the next one fits";
    }
  }
  return {};
}

ModelSizes SequenceModel::sizes() const {
  ModelSizes s;
  s.object_bindings = objects_.size();
  s.key_bindings = keys_.size();
  s.previous_object_bindings = previous_objects_.size();
  s.previous_key_bindings = previous_keys_.size();
  s.pending_io = pending_.size();
  s.pending_opens = pending_opens_.size();
  s.open_groups = groups_.size();
  s.ready_groups = ready_.size();
  return s;
}

}  // namespace mirrow::fuzz
