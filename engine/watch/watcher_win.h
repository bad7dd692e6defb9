#pragma once
// The thread body of one directory watcher.
namespace mirrow {

struct Engine;
struct Watcher;

// Signals the watcher's ready event once watching, then reports changes
// until the engine's stop event is signalled.
void run_watcher(Engine& engine, Watcher& watcher) noexcept;

}  // namespace mirrow
