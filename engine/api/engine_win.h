#pragma once
// The engine as the exports see it: the pure core plus the handles and
// threads that only exist on Windows.
#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/unique_handle.h"
#include "common/utf16.h"
#include "engine/api/engine_core.h"
#include "engine/capture/trace_session_win.h"
#include "engine/watch/watcher_win.h"

namespace mirrow {

// Locks of an engine, and which may be taken while holding which (the
// outer one first; a lock not named here is never held with another). Each
// lives with the state it guards: pending_lock in capture's BindingState,
// missing_lock in its MissingPaths, probe_lock in activity's Probe, the
// classification cache's in its RootSet, activity_lock and drain_lock in
// its ActivityStore, names_lock in the NameTable; the others are here and
// in EngineCore.
//   lifecycle_lock -> replay_lock -> pending_lock
//                                    -> probe_lock, the classification
//                                       cache's lock, activity_lock
//   lifecycle_lock -> live_lock
//   lifecycle_lock -> missing_lock (around the pending-opens insertion)
//   drain_lock -> activity_lock
// names_lock and diagnostics_lock are leaves, taken alone. The report
// exports (vt_stats, vt_diagnostics) and vt_drain never take lifecycle_lock
// or replay_lock, so a start or stop in progress never holds them up.
struct Engine : EngineCore {
  // Serialises the exports that start, stop or destroy the engine with each
  // other. Engine threads and the report exports never take it.
  std::mutex lifecycle_lock;
  // Guards what the reports read of the running system: the watchers list,
  // every thread object, the capture session's handle and name, and
  // stopping. Held only for short reads and writes (and the one system call
  // that stops or queries the capture session), never while waiting for a
  // thread, a watcher or the names session.
  std::mutex live_lock;
  // Set under live_lock while the stop sequence takes the engine down, so
  // the reports see a stopping engine as unhealthy rather than as running
  // without watchers.
  bool stopping = false;
  UniqueHandle stop_event;  // manual reset: signalled by the stop sequence
  std::vector<std::unique_ptr<Watcher>> watchers;
  CaptureSession capture;
  // vt_replay_file's report, kept until its next call; the lock is a leaf.
  std::mutex replay_file_lock;
  std::string replay_file_text;
};

// What the capture sessions reach of the engine outside their own state.
inline CaptureLinks capture_links(Engine& engine) {
  return CaptureLinks{engine.counters, engine.startup, engine.live_lock,
                      engine.stop_event.get(), engine.decoding, engine.missing_paths.track_missing_opens};
}

// What the watchers' changes go to.
inline WatchOutput watch_output(Engine& engine) { return WatchOutput{engine.names, engine.counters, engine.recorder}; }

// Null when anything fails.
Engine* create_engine() noexcept;
std::uint32_t start_engine(Engine& engine, bool capture, bool track_missing_opens);
// Safe at any point and when repeated.
void stop_sequence(Engine& engine) noexcept;
void destroy_engine(Engine* engine) noexcept;

}  // namespace mirrow
