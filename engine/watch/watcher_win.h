#pragma once
// One directory watcher: its handles and thread, and the thread's body.
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "common/unique_handle.h"
#include "engine/core/activity_sink.h"
#include "engine/core/counters.h"
#include "engine/core/names.h"
#include "engine/watch/watch_calls_win.h"

namespace mirrow {

struct Watcher {
  UniqueHandle directory;
  UniqueHandle ready_event;  // manual reset, signalled once the first watch is posted
  std::u16string path;       // normalised
  std::u16string spelling;   // as the host spelled the root: opened, and the base of reported names
  std::thread thread;
  std::atomic<bool> active{false};
};

// What a watcher's changes go to: the names they are interned in, the
// counters, and the sink their activity is recorded into.
struct WatchOutput {
  NameTable& names;
  Counters& counters;
  ActivitySink& activity;
};

// Signals the watcher's ready event once watching, then reports changes
// until stop_event (the engine's, manual reset) is signalled or the
// directory can no longer be watched; clears the watcher's active flag when
// it ends.
void run_watcher(Watcher& watcher, HANDLE stop_event, const WatchOutput& output) noexcept;

// The same with the given calls.
void watch_directory(Watcher& watcher, HANDLE stop_event, const WatchOutput& output,
                     const WatchCalls& calls) noexcept;

}  // namespace mirrow
