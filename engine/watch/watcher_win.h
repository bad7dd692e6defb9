#pragma once
// The thread body of one directory watcher.
#include "engine/watch/watch_calls_win.h"

namespace mirrow {

struct Engine;
struct Watcher;

// Signals the watcher's ready event once watching, then reports changes
// until the engine's stop event is signalled or the directory can no longer
// be watched; clears the watcher's active flag when it ends.
void run_watcher(Engine& engine, Watcher& watcher) noexcept;

// The same with the given calls.
void watch_directory(Engine& engine, Watcher& watcher, const WatchCalls& calls) noexcept;

}  // namespace mirrow
