#include "engine/capture/binding.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace mirrow {

// ---- BindingMap -------------------------------------------------------------

std::size_t BindingMap::slot_of(std::uint32_t node) const noexcept {
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = home_slot(pool_[node].identity);
  while (slots_[i].node != node + 1) i = (i + 1) & mask;
  return i;
}

void BindingMap::place(std::uint32_t node) noexcept {
  const std::size_t mask = slots_.size() - 1;
  const std::uint32_t tag = tag_of(pool_[node].identity);
  std::size_t i = home_of(tag);
  while (slots_[i].node != 0) i = (i + 1) & mask;
  slots_[i] = Slot{tag, node + 1};
}

// Backward-shift deletion: later members of the probe run move up so that
// every lookup still finds its entry without tombstones.
void BindingMap::clear_slot(std::size_t hole) noexcept {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t j = (hole + 1) & mask; slots_[j].node != 0; j = (j + 1) & mask) {
    const std::size_t home = home_of(slots_[j].tag);
    const bool stays = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
    if (!stays) {
      slots_[hole] = slots_[j];
      hole = j;
    }
  }
  slots_[hole] = Slot{};
}

void BindingMap::grow() {
  const std::size_t count = slots_.empty() ? 16 : slots_.size() * 2;
  slots_.assign(count, Slot{});
  shift_ = 64;
  for (std::size_t c = count; c > 1; c >>= 1) --shift_;
  for (std::uint32_t node = oldest_; node != none; node = pool_[node].newer) place(node);
}

void BindingMap::link_newest(std::uint32_t node) noexcept {
  pool_[node].older = newest_;
  pool_[node].newer = none;
  if (newest_ != none) pool_[newest_].newer = node;
  else oldest_ = node;
  newest_ = node;
}

void BindingMap::unlink(std::uint32_t node) noexcept {
  Entry& entry = pool_[node];
  if (entry.older != none) pool_[entry.older].newer = entry.newer;
  else oldest_ = entry.newer;
  if (entry.newer != none) pool_[entry.newer].older = entry.older;
  else newest_ = entry.older;
  entry.older = entry.newer = none;
}

void BindingMap::put(std::uint64_t identity, Binding binding) {
  if (const std::uint32_t node = locate(identity); node != none) {
    pool_[node].binding = std::move(binding);
    unlink(node);
    link_newest(node);
    return;
  }
  if ((size_ + 1) * 2 > slots_.size()) grow();
  std::uint32_t node;
  if (!free_.empty()) {
    node = free_.back();
    free_.pop_back();
  } else {
    pool_.emplace_back();
    // Room for every entry on the free list, so that erase never allocates.
    if (free_.capacity() < pool_.size()) free_.reserve(2 * pool_.size());
    node = static_cast<std::uint32_t>(pool_.size() - 1);
  }
  pool_[node].identity = identity;
  pool_[node].binding = std::move(binding);
  place(node);
  link_newest(node);
  ++size_;
}

bool BindingMap::erase(std::uint64_t identity) noexcept {
  const std::uint32_t node = locate(identity);
  if (node == none) return false;
  erase_at(slot_of(node));
  return true;
}

void BindingMap::erase_at(std::size_t slot) noexcept {
  const std::uint32_t node = slots_[slot].node - 1;
  clear_slot(slot);
  unlink(node);
  pool_[node].binding = Binding{};  // drops the name reference now
  pool_[node].identity = 0;         // so that no look-up hint points here
  free_.push_back(node);            // within the capacity reserved in put
  --size_;
}

bool BindingMap::evict_oldest() noexcept {
  if (oldest_ == none) return false;
  erase_at(slot_of(oldest_));
  return true;
}

void BindingMap::prefetch_entry(std::uint32_t node) const noexcept {
  const Entry& entry = pool_[node];
  __builtin_prefetch(&slots_[home_slot(entry.identity)], 1);
  if (entry.binding.name) __builtin_prefetch(entry.binding.name.get(), 1);
}

std::size_t BindingMap::evict_oldest(std::size_t count) noexcept {
  // The oldest entries are walked in order, but the slot and the name of
  // each lie at random places in memory, most of them long out of the
  // cache: those of the entries a few steps ahead are fetched early, so
  // that their misses overlap instead of following one another.
  constexpr int steps_ahead = 8;
  std::uint32_t scout = oldest_;
  for (int i = 0; i < steps_ahead && scout != none; ++i, scout = pool_[scout].newer) prefetch_entry(scout);
  std::size_t evicted = 0;
  for (; evicted < count && oldest_ != none; ++evicted) {
    if (scout != none) {
      prefetch_entry(scout);
      scout = pool_[scout].newer;
    }
    erase_at(slot_of(oldest_));
  }
  return evicted;
}

// ---- pending keys and samples ------------------------------------------------

std::size_t PendingKeyHash::operator()(const PendingKey& k) const noexcept {
  std::uint64_t h = 0x9e3779b97f4a7c15ULL;
  for (std::uint64_t v : {k.file_object, k.file_key, k.bucket,
                          (static_cast<std::uint64_t>(k.process_id) << 32) | k.kind}) {
    h ^= v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
  }
  return static_cast<std::size_t>(h);
}

std::uint64_t pending_bucket(double timestamp) noexcept {
  const double half = timestamp * 0.5;
  if (!(half >= 0.0)) return 0;
  if (half >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
  return static_cast<std::uint64_t>(half);
}

void UnknownSampleRing::push(const UnknownSample& sample) noexcept {
  slots_[next_] = sample;
  next_ = (next_ + 1) % unknown_sample_cap;
  size_ = std::min(size_ + 1, unknown_sample_cap);
}

std::vector<UnknownSample> UnknownSampleRing::oldest_first() const {
  std::vector<UnknownSample> out;
  out.reserve(size_);
  const std::size_t start = (next_ + unknown_sample_cap - size_) % unknown_sample_cap;
  for (std::size_t i = 0; i < size_; ++i) out.push_back(slots_[(start + i) % unknown_sample_cap]);
  return out;
}

// ---- binding -----------------------------------------------------------------

namespace {

BindingMap& current_map(BindingState& s, BindingMapId map) {
  return map == BindingMapId::objects ? s.object_bindings : s.key_bindings;
}

BindingMap& history_map(BindingState& s, BindingMapId map) {
  return map == BindingMapId::objects ? s.previous_object_bindings : s.previous_key_bindings;
}

bool covers(const Binding& b, double t) { return b.start <= t && t <= b.end; }

// A full current map gives up its oldest tenth at once, so that eviction is
// rare and cheap per binding.
void make_room_for_new_binding(Counters& counters, BindingMap& map) {
  if (map.size() < binding_map_cap) return;
  counters.add(Counter::mapping_evictions, map.evict_oldest(binding_eviction_batch));
}

// The replaced binding's name moves into the history, so that its count is
// neither raised nor lowered: under a flood of new files that name is seldom
// still in the cache.
void remember_replaced(BindingState& s, Counters& counters, BindingMapId map, std::uint64_t identity, Binding old,
                       double t) {
  BindingMap& history = history_map(s, map);
  if (history.size() >= binding_map_cap && history.find(identity) == nullptr && history.evict_oldest()) {
    counters.add(Counter::mapping_evictions);
  }
  old.end = std::min(old.end, t);
  history.put(identity, std::move(old));
}

constexpr std::string_view reason_no_identity = "no_identity";
constexpr std::string_view reason_pending_limit = "pending_limit";
constexpr std::string_view reason_newer_binding = "newer_binding";
constexpr std::string_view reason_name_not_seen = "name_not_seen";

// Caller holds pending_lock.
void record_unknown(BindingState& s, Counters& counters, const PendingIo& io, std::string_view reason) noexcept {
  counters.add(Counter::unattributed, io.count);
  Counter c = Counter::name_not_seen;
  if (reason == reason_no_identity) c = Counter::no_identity;
  else if (reason == reason_pending_limit) c = Counter::pending_limit;
  else if (reason == reason_newer_binding) c = Counter::newer_binding;
  counters.add(c, io.count);
  UnknownSample sample;
  static_cast<PendingIo&>(sample) = io;
  sample.reason = reason;
  s.unknown_samples.push(sample);
}

std::string_view give_up_reason(const PendingIo& io) { return io.newer ? reason_newer_binding : reason_name_not_seen; }

// A read parked on the decoding thread may carry a tick count past the one
// a host thread took a moment before: its age is then 0, not a difference
// that wrapped around.
bool due(const PendingIo& io, std::uint64_t now) { return ms_since(io.created_ticks, now) >= pending_give_up_ms; }

void store_pending_gauge(const BindingState& s, Counters& counters) {
  counters.store(Counter::pending_names, s.pending_io.size());
}

// Caller holds pending_lock.
void park_io(BindingState& s, Counters& counters, const PendingIo& io) {
  auto& pending = s.pending_io;
  const PendingKey key{io.file_object, io.file_key, pending_bucket(io.first), io.process_id, io.kind};
  if (auto it = pending.find(key); it != pending.end()) {
    PendingIo& merged = it->second;
    merged.count += 1;
    merged.first = std::min(merged.first, io.first);
    merged.last = std::max(merged.last, io.last);
  } else if (pending.size() < pending_io_cap) {
    pending.emplace(key, io);
  } else {
    record_unknown(s, counters, io, reason_pending_limit);
  }
  store_pending_gauge(s, counters);
}

// A name found through one identity is spread to the other, so the next
// read of either resolves directly from a current binding.
void spread_binding(BindingState& s, Counters& counters, std::uint64_t file_object, std::uint64_t file_key,
                    const Resolution& r, double t) {
  // A current object binding that covers t is the common case; it needs no
  // second lookup of the object.
  const Binding* object = r.from_current_object ? nullptr : s.object_bindings.find(file_object);
  if (r.from_current_object || (object != nullptr && t >= object->start)) {
    // Every read of an open file spreads the same name again; when the key
    // already holds it from r.start or earlier, binding would change nothing.
    const Binding* key = s.key_bindings.find(file_key);
    if (key != nullptr && key->name == *r.name && key->start <= r.start && r.start <= key->end) return;
    bind_name(s, counters, BindingMapId::keys, file_key, *r.name, r.start);
  } else if (bind_name(s, counters, BindingMapId::objects, file_object, *r.name, r.start)) {
    counters.add(Counter::key_derived_bindings);
  }
}

}  // namespace

bool bind_name(BindingState& s, Counters& counters, BindingMapId map_id, std::uint64_t identity, const NameRef& name,
               double t) {
  if (identity == 0 || !name) return false;
  BindingMap& map = current_map(s, map_id);
  Binding* current = map.find(identity);
  if (current == nullptr) {
    make_room_for_new_binding(counters, map);
    map.put(identity, Binding{name, t, open_end});
    return true;
  }
  if (current->name == name && current->end >= t) {
    current->start = std::min(current->start, t);
    return false;
  }
  if (t < current->start) return false;  // an older name never overrides a newer binding
  // The new binding is made before the old one is moved out: name may be
  // the very reference the old binding holds.
  Binding replaced = std::exchange(*current, Binding{name, t, open_end});
  remember_replaced(s, counters, map_id, identity, std::move(replaced), t);
  return true;
}

void close_binding(BindingState& s, BindingMapId map, std::uint64_t identity, double t) noexcept {
  Binding* b = current_map(s, map).find(identity);
  if (b != nullptr && t >= b->start) b->end = std::min(b->end, t);
}

namespace {

// The maps after the current object binding, for a read that it does not
// answer. Kept out of line so that resolve, short without it, is inlined
// into the attribution of every read and write.
[[gnu::noinline]] Resolution resolve_past_current_object(const BindingState& s, std::uint64_t file_object,
                                                         std::uint64_t file_key, double t) noexcept {
  const std::pair<const BindingMap*, std::uint64_t> rest[] = {
      {&s.previous_object_bindings, file_object}, {&s.key_bindings, file_key}, {&s.previous_key_bindings, file_key}};
  // A read that the object does not answer is often one that no map
  // answers: the three look-ups then miss the cache together, not in turn.
  for (const auto& [map, identity] : rest) map->prefetch(identity);
  for (const auto& [map, identity] : rest) {
    const Binding* b = map->find(identity);
    if (b != nullptr && covers(*b, t)) return Resolution{&b->name, b->start, b->end, false};
  }
  return Resolution{};
}

// resolve, inlined into the attribution of every read and write.
[[gnu::always_inline]] inline Resolution resolve_here(const BindingState& s, std::uint64_t file_object,
                                                     std::uint64_t file_key, double t) noexcept {
  // The current object binding answers nearly every read; it is looked at
  // first and on its own.
  if (const Binding* b = s.object_bindings.find(file_object); b != nullptr && covers(*b, t)) {
    return Resolution{&b->name, b->start, b->end, true};
  }
  return resolve_past_current_object(s, file_object, file_key, t);
}

}  // namespace

Resolution resolve(const BindingState& s, std::uint64_t file_object, std::uint64_t file_key, double t) noexcept {
  return resolve_here(s, file_object, file_key, t);
}

bool has_newer_binding(const BindingState& s, std::uint64_t file_object, std::uint64_t file_key, double t) noexcept {
  const Binding* object = s.object_bindings.find(file_object);
  if (object != nullptr && object->start > t) return true;
  const Binding* key = s.key_bindings.find(file_key);
  return key != nullptr && key->start > t;
}

void attribute_io(const IoLinks& links, std::uint64_t file_object, std::uint64_t file_key, std::uint32_t kind,
                  std::uint32_t process_id, double t) {
  BindingState& s = links.bindings;
  Counters& counters = links.counters;
  // Written by the decoding thread alone: a plain increment is exact.
  counters.store(Counter::io_total, counters.get(Counter::io_total) + 1);
  const Resolution r = resolve_here(s, file_object, file_key, t);
  if (r.name != nullptr) {
    // Recording touches no binding, so r stays valid for the spreading,
    // whose look-up of the key (often new) has the recording's time to
    // arrive from memory.
    const bool spreads = r.end == open_end;
    if (spreads) s.key_bindings.prefetch(file_key);
    links.activity.record(*r.name, kind, process_id, t, no_name, 1, 0.0);
    if (spreads) spread_binding(s, counters, file_object, file_key, r, t);
    return;
  }
  std::lock_guard<std::mutex> guard(s.pending_lock);
  counters.add(Counter::initial_missing);
  const PendingIo io{file_object, file_key, 1,       kind, process_id, t, t, s.ticks(),
                     has_newer_binding(s, file_object, file_key, t)};
  if (file_object == 0 && file_key == 0) {
    record_unknown(s, counters, io, reason_no_identity);
    return;
  }
  park_io(s, counters, io);
}

void recover_pending(BindingState& s, Counters& counters, ActivitySink& activity, bool forced) {
  // Only this thread parks reads and writes, and every change of pending_io
  // stores its size in the gauge under the lock: 0 means nothing to recover.
  // A replay forces a pass after every event, which then costs neither the
  // lock nor a reading of the clock. Such a pass leaves the time of the last
  // pass as it was; at most an unforced pass comes sooner after it, which
  // attributes or gives up nothing that a later pass would not.
  if (forced && counters.get(Counter::pending_names) == 0) return;
  const std::uint64_t now = s.ticks();
  if (!forced && ms_since(s.last_recovery_ticks, now) < recovery_interval_ms) return;
  s.last_recovery_ticks = now;
  if (counters.get(Counter::pending_names) == 0) return;
  std::lock_guard<std::mutex> guard(s.pending_lock);
  for (auto it = s.pending_io.begin(); it != s.pending_io.end();) {
    PendingIo& e = it->second;
    const Resolution r = resolve(s, e.file_object, e.file_key, e.first);
    if (!e.newer) e.newer = has_newer_binding(s, e.file_object, e.file_key, e.first);
    if (r.name != nullptr) {
      activity.record(*r.name, e.kind, e.process_id, e.first, no_name, e.count, e.last);
      counters.add(Counter::late_recovered, e.count);
      it = s.pending_io.erase(it);
    } else if (due(e, now)) {
      record_unknown(s, counters, e, give_up_reason(e));
      it = s.pending_io.erase(it);
    } else {
      ++it;
    }
  }
  store_pending_gauge(s, counters);
}

void expire_pending(BindingState& s, Counters& counters, bool all) {
  // The clock is read under the lock, after every read parked before it: a
  // host thread reading it first could meet entries made after its reading.
  std::lock_guard<std::mutex> guard(s.pending_lock);
  const std::uint64_t now = s.ticks();
  for (auto it = s.pending_io.begin(); it != s.pending_io.end();) {
    if (all || due(it->second, now)) {
      record_unknown(s, counters, it->second, give_up_reason(it->second));
      it = s.pending_io.erase(it);
    } else {
      ++it;
    }
  }
  store_pending_gauge(s, counters);
}

void prune_bindings(BindingState& s, NameTable& names) {
  const std::uint64_t now = s.ticks();
  if (ms_since(s.last_prune_ticks, now) < prune_interval_ms) return;
  s.last_prune_ticks = now;
  const double horizon = now_unix_seconds() - prune_grace_seconds;
  auto ended = [horizon](const Binding& b) { return b.end < horizon; };
  s.object_bindings.erase_if(ended);
  s.key_bindings.erase_if(ended);
  s.previous_object_bindings.erase_if(ended);
  s.previous_key_bindings.erase_if(ended);
  release_unreferenced_names(names);
}

// The budget and the binding caps bound different things: with long paths the
// budget fills while the maps are far below their cap, and a binding whose
// close never comes holds its name for good. New names are then refused and
// no new binding ever arrives to push the old ones out, so the oldest go
// here instead, a tenth of each map at a time, as from a full map.
void relieve_name_budget(BindingState& s, NameTable& names, Counters& counters) {
  const std::uint64_t refusals = names.budget_refusals.load(std::memory_order_relaxed);
  if (refusals == s.budget_refusals_seen) return;
  s.budget_refusals_seen = refusals;
  for (BindingMap* map : {&s.previous_object_bindings, &s.previous_key_bindings, &s.object_bindings,
                          &s.key_bindings}) {
    const std::size_t tenth = (map->size() + 9) / 10;
    counters.add(Counter::mapping_evictions, map->evict_oldest(tenth));
  }
  release_unreferenced_names(names);
}

void finish_pending_at_stop(BindingState& s, Counters& counters, ActivitySink& activity) {
  recover_pending(s, counters, activity, true);
  expire_pending(s, counters, true);
}

void expire_due_pending(BindingState& s, Counters& counters) { expire_pending(s, counters, false); }

std::vector<UnknownSample> unknown_samples_snapshot(BindingState& s) {
  std::lock_guard<std::mutex> guard(s.pending_lock);
  return s.unknown_samples.oldest_first();
}

}  // namespace mirrow
