#include "engine/activity/aggregation.h"

#include <cmath>

#include "engine/activity/configuration.h"
#include "engine/api/engine_core.h"

namespace mirrow {

std::size_t ActivityKeyHash::operator()(const ActivityKey& k) const noexcept {
  const std::uint64_t h = (static_cast<std::uint64_t>(k.pid) * 1315423911ULL) ^ (k.bucket * 0x9E3779B1ULL) ^
                          (k.name_id * 0x9E3779B185EBCA87ULL) ^ (k.second_id * 0x100000001B3ULL) ^ k.kind;
  return static_cast<std::size_t>(h);
}

std::uint64_t time_bucket(double first) noexcept {
  const double window = std::trunc(first / 5.0);
  if (!(window > 0.0)) return 0;  // also NaN
  if (window >= 18446744073709551616.0) return UINT64_MAX;
  return static_cast<std::uint64_t>(window);
}

namespace {

// A read of exactly the probe path proves that capture works; checked before
// the root test so that a probe outside every root is seen too.
void note_probe_read(EngineCore& engine, const Name& name, std::uint32_t kind) {
  if (kind != 1 || engine.probe_seen.load()) return;
  std::lock_guard lock(engine.probe_lock);
  if (!engine.probe_path.empty() && engine.probe_path == name.path) engine.probe_seen.store(true);
}

void merge_into(ActivityGroup& group, std::uint64_t count, double first, double last) {
  group.count += count;
  if (first < group.first) group.first = first;
  if (last > group.last) group.last = last;
}

}  // namespace

void record_activity(EngineCore& engine, const NameRef& name, std::uint32_t kind, std::uint32_t pid, double first,
                     const NameRef& second, std::uint64_t count, double last) {
  if (!name || pid == engine.own_pid) return;
  note_probe_read(engine, *name, kind);
  const std::int64_t root = classify_path(engine, name->path);
  if (root == 0) return;

  const ActivityKey key{name->id, second ? second->id : 0, time_bucket(first), pid, kind};
  const double effective_last = last != 0.0 ? last : first;
  ActivityStore& store = engine.activity;
  std::lock_guard lock(store.activity_lock);
  if (auto found = store.groups.find(key); found != store.groups.end()) {
    merge_into(found->second, count, first, effective_last);
  } else if (store.groups.size() + store.ready_groups.size() < ActivityStore::group_cap) {
    store.groups.emplace(key, ActivityGroup{name, second, root, pid, kind, count, first, effective_last});
  } else {
    engine.counters.add(Counter::dropped, count);
  }
}

namespace {

// Orders by last time; a NaN time sorts after every number so that the
// ordering stays strict even for nonsense input.
bool earlier_last(const ActivityGroup& a, const ActivityGroup& b) {
  const bool a_nan = std::isnan(a.last);
  const bool b_nan = std::isnan(b.last);
  if (a_nan || b_nan) return !a_nan && b_nan;
  return a.last < b.last;
}

// Moves every open group to the tail of the ready queue. Groups move as map
// nodes into list nodes; if a list node cannot be had, the group goes back
// into the map and those already moved still reach the queue.
void queue_open_groups(ActivityStore& store) {
  GroupList fresh;
  try {
    while (!store.groups.empty()) {
      auto node = store.groups.extract(store.groups.begin());
      try {
        fresh.push_back(std::move(node.mapped()));
      } catch (...) {
        store.groups.insert(std::move(node));
        throw;
      }
    }
  } catch (...) {
    fresh.sort(earlier_last);
    store.ready_groups.splice(store.ready_groups.end(), fresh);
    throw;
  }
  fresh.sort(earlier_last);
  store.ready_groups.splice(store.ready_groups.end(), fresh);
}

}  // namespace

std::uint64_t drain_size_estimate(const ActivityGroup& group) noexcept {
  const std::uint64_t second_units = group.second ? group.second->path.size() : 0;
  return 6 * static_cast<std::uint64_t>(group.name->path.size()) + 6 * second_units + 256;
}

GroupList take_drain_batch(ActivityStore& store) {
  std::lock_guard lock(store.activity_lock);
  queue_open_groups(store);
  std::size_t taken = 0;
  std::uint64_t running = 0;
  auto end = store.ready_groups.begin();
  while (end != store.ready_groups.end() && taken < ActivityStore::batch_groups) {
    const std::uint64_t estimate = drain_size_estimate(*end);
    if (taken > 0 && running + estimate > ActivityStore::batch_bytes) break;
    running += estimate;
    ++end;
    ++taken;
  }
  GroupList batch;
  batch.splice(batch.end(), store.ready_groups, store.ready_groups.begin(), end);
  return batch;
}

void return_drain_batch(ActivityStore& store, GroupList& batch) noexcept {
  std::lock_guard lock(store.activity_lock);
  store.ready_groups.splice(store.ready_groups.begin(), batch);
}

std::uint32_t emit_test_activity(EngineCore& engine, const char16_t* path, std::int32_t kind, std::uint32_t pid,
                                 double timestamp) {
  if (path == nullptr || kind < 1 || kind > 10) return result_invalid;
  const NameRef name = intern_name(engine, std::u16string(path));
  record_activity(engine, name, static_cast<std::uint32_t>(kind), pid, timestamp, nullptr, 1, 0.0);
  return result_ok;
}

}  // namespace mirrow
