#pragma once
// The engine's 24 lock-free counters. Any thread may read them at any time,
// so statistics never block capture.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace mirrow {

enum class Counter : std::size_t {
  events,
  errors,
  unattributed,
  key_derived_bindings,
  own_io,
  dropped,
  watch_losses,
  watch_notifications,
  initial_missing,
  late_recovered,
  no_identity,
  name_not_seen,
  pending_limit,
  mapping_evictions,
  unsupported,
  malformed,
  pending_names,  // gauge: current number of pending reads and writes
  io_total,
  newer_binding,
  manifest_names,
  classic_names,
  helper_events,
  own_reads,
  own_writes,
  count
};

class Counters {
 public:
  void add(Counter c, std::uint64_t n = 1) noexcept { slot(c).fetch_add(n, std::memory_order_relaxed); }
  void store(Counter c, std::uint64_t v) noexcept { slot(c).store(v, std::memory_order_relaxed); }
  std::uint64_t get(Counter c) const noexcept { return values_[static_cast<std::size_t>(c)].load(std::memory_order_relaxed); }

 private:
  std::atomic<std::uint64_t>& slot(Counter c) noexcept { return values_[static_cast<std::size_t>(c)]; }
  std::array<std::atomic<std::uint64_t>, static_cast<std::size_t>(Counter::count)> values_{};
};

}  // namespace mirrow
