#pragma once
// Everything an engine holds that is not a system handle or thread. The
// decoding, binding, interning, aggregation and configuration logic works on
// this part only, so it builds and is tested without Windows.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/activity/aggregation.h"
#include "engine/activity/paths.h"
#include "engine/activity/roots.h"
#include "engine/api/counters.h"
#include "engine/capture/binding.h"
#include "engine/capture/decoder.h"
#include "engine/capture/names.h"

namespace mirrow {

// Figures of the capture side that the reports show; written by the start
// and stop sequences.
struct StartupFigures {
  std::uint32_t names_session_status = 0;
  std::uint32_t capture_state_status = 0;
  bool system_names_enabled = false;
  std::uint64_t startup_name_losses = 0;
  double startup_name_seconds = 0.0;
  std::uint64_t events_lost = 0;
  std::uint64_t buffers_lost = 0;
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
  std::unordered_set<std::u16string, PathHash, std::equal_to<>> missing;

  std::mutex probe_lock;
  std::u16string probe_path;

  // Capture side: decoding and binding run on one thread at a time.
  // While the engine runs that is the capture thread; while it is stopped,
  // replays and test emits decode and record on the host's thread. They hold
  // replay_lock and are refused once running is set, and the start sets
  // running under it (after reordering the roots), so a replay never
  // overlaps a start, the capture thread or another replay. The stop holds
  // it while it finishes the pending reads and writes. The capture thread
  // never takes it.
  std::mutex replay_lock;
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
