#pragma once
// Activity groups per path, process, kind and five-second window, and the
// ready queue that vt_drain empties.
#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>

#include "engine/capture/names.h"

namespace mirrow {

struct EngineCore;

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
  std::size_t operator()(const ActivityKey& k) const noexcept;
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

using GroupList = std::list<ActivityGroup>;

struct ActivityStore {
  static constexpr std::size_t group_cap = 20000;      // open and ready groups together
  static constexpr std::size_t batch_groups = 1024;    // groups per drain
  static constexpr std::size_t batch_bytes = 1048576;  // estimated text per drain

  std::mutex activity_lock;
  std::unordered_map<ActivityKey, ActivityGroup, ActivityKeyHash> groups;  // still being filled
  // Drained out of groups, oldest first, not yet handed out. A list, so that
  // batches move in and out by splicing, which cannot fail.
  GroupList ready_groups;
  std::string drain_text;  // the text most recently returned by vt_drain
};

// Folds one activity into its group. Nothing happens for an empty name, the
// engine's own process or a path outside every root; a new group beyond the
// cap adds count to dropped. last == 0.0 means last equals first.
void record_activity(EngineCore& engine, const NameRef& name, std::uint32_t kind, std::uint32_t pid, double first,
                     const NameRef& second, std::uint64_t count, double last);

// Drain steps up to the formatting: moves every open group to the tail of
// the ready queue (sorted by last time) and takes the next batch from its
// head: at most 1024 groups and about 1 MiB of text, but always at least one.
GroupList take_drain_batch(ActivityStore& store);

// Puts a batch that could not be handed out back at the head of the ready
// queue, in its order, so that a failed drain loses nothing.
void return_drain_batch(ActivityStore& store, GroupList& batch) noexcept;

// Text size the batch limit assumes for one group.
std::uint64_t drain_size_estimate(const ActivityGroup& group) noexcept;

// The test hook behind vt_test_emit: 87 for a null path or a kind outside
// 1..10, else interns the path and records one finished activity.
std::uint32_t emit_test_activity(EngineCore& engine, const char16_t* path, std::int32_t kind, std::uint32_t pid,
                                 double timestamp);

// Five-second window of a Unix time; times outside the unsigned range
// (negative, NaN, huge) saturate instead of overflowing the conversion.
std::uint64_t time_bucket(double first) noexcept;

}  // namespace mirrow
