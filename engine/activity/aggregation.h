#pragma once
// Activity groups per path, process, kind and five-second window, and the
// ready queue that vt_drain empties.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>
#include <mutex>
#include <string>

#include "common/flat_map.h"
#include "common/short_lock.h"
#include "engine/activity/probe.h"
#include "engine/activity/roots.h"
#include "engine/core/activity_sink.h"
#include "engine/core/caps.h"
#include "engine/core/counters.h"
#include "engine/core/names.h"

namespace mirrow {

// Identity of a group: two records merge exactly when all five are equal.
struct ActivityKey {
  std::uint64_t name_id = 0;
  std::uint64_t second_id = 0;  // 0: no second name
  std::uint64_t bucket = 0;     // first time / 5 s, truncated
  std::uint32_t pid = 0;
  std::uint32_t kind = 0;
  bool operator==(const ActivityKey&) const = default;
};

struct ActivityKeyHash {
  std::size_t operator()(const ActivityKey& k) const noexcept {
    const std::uint64_t h = (static_cast<std::uint64_t>(k.pid) * 1315423911ULL) ^ (k.bucket * 0x9E3779B1ULL) ^
                            (k.name_id * 0x9E3779B185EBCA87ULL) ^ (k.second_id * 0x100000001B3ULL) ^ k.kind;
    return static_cast<std::size_t>(h);
  }
};

// One aggregated output record.
struct ActivityGroup {
  NameRef name;    // never null
  NameRef second;  // the new path of a watcher rename, else null
  std::int64_t root_id = 0;
  std::uint32_t pid = 0;
  std::uint32_t kind = 0;
  std::uint64_t count = 0;
  double first = 0.0;  // Unix seconds
  double last = 0.0;
};

// First-in-first-out queue of drained groups. Handed-out groups leave from
// the head only once their text exists, so a failed drain loses nothing, and
// new groups join the tail only after room was reserved, so appending cannot
// fail half-way.
class ReadyQueue {
 public:
  std::size_t size() const noexcept { return items_.size() - head_; }
  bool empty() const noexcept { return size() == 0; }
  const ActivityGroup& front() const { return items_[head_]; }
  std::vector<ActivityGroup>::const_iterator begin() const noexcept { return items_.begin() + head_; }
  std::vector<ActivityGroup>::const_iterator end() const noexcept { return items_.end(); }

  // Makes room for n more groups; the only step that can fail.
  void reserve_for(std::size_t n);
  // Moves every group of the map to the tail, sorted by last time, and
  // empties the map; cannot fail after reserve_for(groups.size()). The
  // times are sorted with the groups' places, and each group then moves
  // once, straight to its place in the queue.
  template <typename Map>
  void append_sorted(Map& groups) noexcept {
    order_.clear();
    std::uint32_t index = 0;
    for (const auto& entry : groups) order_.push_back(Placed{entry.second.last, index++});
    sort_order();
    const auto first = groups.begin();
    for (const Placed& placed : order_) items_.push_back(std::move((first + placed.index)->second));
    groups.clear();
  }
  // Removes n groups from the head, releasing their names.
  void pop_front(std::size_t n) noexcept;

 private:
  struct Placed {
    double last;
    std::uint32_t index;  // in the map being queued
  };
  void sort_order() noexcept;
  void radix_sort_order() noexcept;

  std::vector<ActivityGroup> items_;
  // Both kept between drains, so queueing never allocates.
  std::vector<Placed> order_;
  std::vector<Placed> sorted_;  // the other half of each pass of the radix sort
  std::size_t head_ = 0;
};

using GroupSpan = std::span<const ActivityGroup>;

struct ActivityStore {
  static constexpr std::size_t group_cap = caps::group_cap;             // open and ready groups together
  static constexpr std::size_t batch_groups = caps::drain_batch_groups;  // groups per drain
  static constexpr std::size_t batch_bytes = caps::drain_batch_bytes;    // estimated text per drain

  // Taken for every event recorded; held only briefly except by a drain.
  ShortLock activity_lock;
  // Held for a whole drain: the batch is formatted outside activity_lock,
  // and two host threads draining at once must not share or move it.
  std::mutex drain_lock;
  FlatMap<ActivityKey, ActivityGroup, ActivityKeyHash> groups;  // still being filled
  ReadyQueue ready_groups;  // drained out of groups, not yet handed out
  std::string drain_text;  // the text most recently returned by vt_drain
  // The text before it, kept as the buffer of the next drain so that a
  // drain reuses memory instead of allocating (and faulting in) ~1 MiB.
  std::string spare_text;
};

// The activity sink of an engine: folds each activity into its group in
// store. Nothing happens for an empty name, the engine's own process or a
// path outside every root; a new group beyond the cap adds count to dropped.
// A read of the probe path is noted first, inside a root or not.
class ActivityRecorder final : public ActivitySink {
 public:
  // own_pid is read at every record: the engine sets it after it is made.
  ActivityRecorder(ActivityStore& store, const RootSet& roots, Probe& probe, Counters& counters,
                   const std::uint32_t& own_pid) noexcept
      : store_(store), roots_(roots), probe_(probe), counters_(counters), own_pid_(own_pid) {}

  void record(const NameRef& name, std::uint32_t kind, std::uint32_t pid, double first, const NameRef& second,
              std::uint64_t count, double last) override;

 private:
  ActivityStore& store_;
  const RootSet& roots_;
  Probe& probe_;
  Counters& counters_;
  const std::uint32_t& own_pid_;
};

// Drain steps up to the formatting: moves every open group to the tail of
// the ready queue (sorted by last time) and marks the next batch at its
// head: at most 1024 groups and about 1 MiB of text, but always at least one.
// The batch stays queued, and valid, until finish_drain_batch; the caller
// holds drain_lock, so drains never overlap and nothing else moves the queue.
GroupSpan take_drain_batch(ActivityStore& store);

// Removes a batch whose text was handed out from the head of the queue.
void finish_drain_batch(ActivityStore& store, std::size_t count) noexcept;

// Text size the batch limit assumes for one group.
inline std::uint64_t drain_size_estimate(const ActivityGroup& group) noexcept {
  const std::uint64_t second_units = group.second ? group.second->path.size() : 0;
  return 6 * static_cast<std::uint64_t>(group.name->path.size()) + 6 * second_units + 256;
}

// Five-second window of a Unix time; times outside the unsigned range
// (negative, NaN, huge) saturate instead of overflowing the conversion.
inline std::uint64_t time_bucket(double first) noexcept {
  const double window = first / 5.0;
  // The conversion truncates toward zero by itself; below 1 the window is 0
  // (also for NaN), beyond the unsigned range it saturates.
  if (!(window >= 1.0)) return 0;
  if (window >= 18446744073709551616.0) return UINT64_MAX;
  return static_cast<std::uint64_t>(window);
}

}  // namespace mirrow
