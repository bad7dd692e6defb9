#pragma once
// The engine where its parts meet: the state each part owns, held together,
// and the links between them (the activity sink that capture and the
// watchers record into, and what decoding an event touches). Everything
// here is pure, so it builds and is tested without Windows.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "common/short_lock.h"
#include "engine/activity/aggregation.h"
#include "engine/activity/probe.h"
#include "engine/activity/roots.h"
#include "engine/capture/binding.h"
#include "engine/capture/decoder.h"
#include "engine/capture/missing_paths.h"
#include "engine/capture/startup_figures.h"
#include "engine/core/counters.h"
#include "engine/core/names.h"

namespace mirrow {

struct EngineCore {
  Counters counters;
  std::uint32_t own_pid = 0;
  std::atomic<bool> running{false};

  // Configuration: roots and exclusions change only while stopped.
  RootSet root_set;
  MissingPaths missing_paths;
  Probe probe;

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

  // Where the parts meet: the sink that decoding and the watchers record
  // into, and what decoding an event reads and changes.
  ActivityRecorder recorder{activity, root_set, probe, counters, own_pid};
  Decoding decoding{{bindings, counters, recorder}, names, pending_opens, missing_paths, own_pid};

  std::mutex diagnostics_lock;  // guards diagnostics_text against two callers at once
  std::string diagnostics_text;
};

}  // namespace mirrow
