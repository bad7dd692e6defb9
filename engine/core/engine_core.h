#pragma once
// Everything an engine holds that is not a system handle or thread. The
// decoding, binding, interning, aggregation and configuration logic works on
// this part only, so it builds and is tested without Windows.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "common/flat_map.h"
#include "common/short_lock.h"
#include "engine/activity/aggregation.h"
#include "common/paths.h"
#include "engine/activity/roots.h"
#include "engine/core/missing_filter.h"
#include "engine/core/counters.h"
#include "engine/capture/binding.h"
#include "engine/capture/decoder.h"
#include "engine/core/names.h"

namespace mirrow {

// One figure that a start or stop sequence writes while the reports read it
// on any host thread: each value is stored and loaded whole. Reads and
// writes look like those of a plain T.
template <typename T>
class SharedFigure {
 public:
  SharedFigure() noexcept = default;
  explicit SharedFigure(T value) noexcept : value_(value) {}
  SharedFigure(const SharedFigure& other) noexcept : value_(other.load()) {}
  SharedFigure& operator=(const SharedFigure& other) noexcept { return *this = other.load(); }
  SharedFigure& operator=(T value) noexcept {
    value_.store(value, std::memory_order_relaxed);
    return *this;
  }
  operator T() const noexcept { return load(); }
  T load() const noexcept { return value_.load(std::memory_order_relaxed); }

 private:
  std::atomic<T> value_{};
};

// Figures of the capture side that the reports show; written by the start
// and stop sequences.
struct StartupFigures {
  StartupFigures() = default;
  StartupFigures(std::uint32_t names_status, std::uint32_t state_status, bool names_enabled,
                 std::uint64_t name_losses, double name_seconds, std::uint64_t events, std::uint64_t buffers)
      : names_session_status(names_status), capture_state_status(state_status),
        system_names_enabled(names_enabled), startup_name_losses(name_losses), startup_name_seconds(name_seconds),
        events_lost(events), buffers_lost(buffers) {}

  SharedFigure<std::uint32_t> names_session_status;
  SharedFigure<std::uint32_t> capture_state_status;
  SharedFigure<bool> system_names_enabled;
  SharedFigure<std::uint64_t> startup_name_losses;
  SharedFigure<double> startup_name_seconds;
  SharedFigure<std::uint64_t> events_lost;
  SharedFigure<std::uint64_t> buffers_lost;
};

struct EngineCore {
  Counters counters;
  std::uint32_t own_pid = 0;
  std::atomic<bool> running{false};
  bool track_missing_opens = false;
  std::atomic<bool> capture_live{false};
  std::atomic<bool> probe_seen{false};

  // Configuration: roots and exclusions change only while stopped.
  std::vector<Root> roots;
  std::vector<std::u16string> exclusions;
  DeviceMap device_map;
  ClassificationCache classification;

  std::mutex missing_lock;
  // The paths the host watches for appearance (the value is unused).
  FlatMap<std::u16string, bool, PathHash, PathEqual> missing;
  // Answers most questions about missing without its lock.
  MissingFilter missing_filter;

  std::mutex probe_lock;
  std::u16string probe_path;
  // path_hash of probe_path, written with it: a read whose name hashes
  // otherwise is not the probe, and needs no lock to know it.
  std::atomic<std::uint64_t> probe_hash{0};

  // Capture side: decoding and binding run on one thread at a time.
  // While the engine runs that is the capture thread; while it is stopped,
  // replays and test emits decode and record on the host's thread. They hold
  // replay_lock and are refused once running is set, and the start sets
  // running under it (after reordering the roots), so a replay never
  // overlaps a start, the capture thread or another replay. The stop holds
  // it while it finishes the pending reads and writes. The capture thread
  // never takes it. A host replaying a recording takes it once per event,
  // and a start or stop seldom holds it for long: a ShortLock.
  ShortLock replay_lock;
  NameTable names;
  BindingState bindings;
  PendingOpens pending_opens;
  StartupFigures startup;

  // Output.
  ActivityStore activity;
  std::mutex diagnostics_lock;  // guards diagnostics_text against two callers at once
  std::string diagnostics_text;
};

}  // namespace mirrow
