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

}  // namespace mirrow
