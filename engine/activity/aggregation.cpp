#include "engine/activity/aggregation.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <utility>

namespace mirrow {

namespace {

void merge_into(ActivityGroup& group, std::uint64_t count, double first, double last) {
  group.count += count;
  if (first < group.first) group.first = first;
  if (last > group.last) group.last = last;
}

}  // namespace

void ActivityRecorder::record(const NameRef& name, std::uint32_t kind, std::uint32_t pid, double first,
                              const NameRef& second, std::uint64_t count, double last) {
  if (!name || pid == own_pid_) return;
  // A read of exactly the probe path proves that capture works; checked
  // before the root test so that a probe outside every root is seen too.
  note_probe_read(probe_, *name, kind);
  const std::int64_t root = classify_name(roots_, *name);
  if (root == 0) return;

  const ActivityKey key{name->id, second ? second->id : 0, time_bucket(first), pid, kind};
  const double effective_last = last != 0.0 ? last : first;
  ActivityStore& store = store_;
  std::lock_guard lock(store.activity_lock);
  if (ActivityGroup* found = store.groups.find_hinted(key)) {
    merge_into(*found, count, first, effective_last);
  } else if (store.groups.size() + store.ready_groups.size() < ActivityStore::group_cap) {
    store.groups.emplace(key, ActivityGroup{name, second, root, pid, kind, count, first, effective_last});
  } else {
    counters_.add(Counter::dropped, count);
  }
}

namespace {

// Orders by last time; a NaN time sorts after every number so that the
// ordering stays strict even for nonsense input.
bool earlier_last(double a, double b) {
  const bool a_nan = std::isnan(a);
  const bool b_nan = std::isnan(b);
  if (a_nan || b_nan) return !a_nan && b_nan;
  return a < b;
}

// Moves every open group to the tail of the ready queue. Room is made first,
// so a failure leaves every group where it was.
void queue_open_groups(ActivityStore& store) {
  if (store.groups.empty()) return;
  store.ready_groups.reserve_for(store.groups.size());
  store.ready_groups.append_sorted(store.groups);
}

}  // namespace

void ReadyQueue::reserve_for(std::size_t n) {
  const std::size_t needed = items_.size() + n;
  if (needed > items_.capacity()) items_.reserve(std::max(needed, 2 * items_.capacity()));
  if (n > order_.capacity()) order_.reserve(n);
  if (n > sorted_.capacity()) sorted_.reserve(n);
}

namespace {

// Below this many groups a comparison sort is quicker than the passes of
// the radix sort.
constexpr std::size_t radix_sort_from = 256;

// An unsigned key that orders as earlier_last orders the times: numbers by
// value (the sign bit flipped for positive ones, every bit for negative
// ones), NaN after all of them.
std::uint64_t order_key(double t) noexcept {
  if (std::isnan(t)) return ~std::uint64_t{0};
  std::uint64_t bits;
  std::memcpy(&bits, &t, sizeof bits);
  return (bits >> 63) != 0 ? ~bits : bits | (std::uint64_t{1} << 63);
}

}  // namespace

void ReadyQueue::sort_order() noexcept {
  if (order_.size() >= radix_sort_from) return radix_sort_order();
  std::sort(order_.begin(), order_.end(),
            [](const Placed& a, const Placed& b) { return earlier_last(a.last, b.last); });
}

// A drain queues thousands of groups whose last times lie within seconds of
// each other: a stable counting sort a byte at a time, least significant
// first, orders them in a few passes, since a byte that every key shares
// (the high ones of times so close) moves nothing and is skipped.
void ReadyQueue::radix_sort_order() noexcept {
  const std::size_t n = order_.size();
  sorted_.resize(n);  // within the capacity reserve_for made
  for (unsigned shift = 0; shift < 64; shift += 8) {
    std::array<std::uint32_t, 256> counts{};
    for (const Placed& p : order_) ++counts[(order_key(p.last) >> shift) & 0xFF];
    if (std::find(counts.begin(), counts.end(), n) != counts.end()) continue;
    std::uint32_t start = 0;
    for (std::uint32_t& count : counts) start += std::exchange(count, start);
    for (const Placed& p : order_) sorted_[counts[(order_key(p.last) >> shift) & 0xFF]++] = p;
    order_.swap(sorted_);
  }
}

void ReadyQueue::pop_front(std::size_t n) noexcept {
  head_ += std::min(n, size());
  if (head_ == items_.size()) {
    items_.clear();
    head_ = 0;
  } else if (head_ >= items_.size() / 2) {
    items_.erase(items_.begin(), items_.begin() + static_cast<std::ptrdiff_t>(head_));
    head_ = 0;
  }
}

GroupSpan take_drain_batch(ActivityStore& store) {
  std::lock_guard lock(store.activity_lock);
  queue_open_groups(store);
  std::size_t taken = 0;
  std::uint64_t running = 0;
  for (const ActivityGroup& group : store.ready_groups) {
    if (taken == ActivityStore::batch_groups) break;
    const std::uint64_t estimate = drain_size_estimate(group);
    if (taken > 0 && running + estimate > ActivityStore::batch_bytes) break;
    running += estimate;
    ++taken;
  }
  return GroupSpan(store.ready_groups.begin(), taken);
}

void finish_drain_batch(ActivityStore& store, std::size_t count) noexcept {
  std::lock_guard lock(store.activity_lock);
  store.ready_groups.pop_front(count);
}

}  // namespace mirrow
