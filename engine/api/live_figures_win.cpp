#include "common/filetime_win.h"
#include "engine/api/live_figures_win.h"

#include <windows.h>
#include <pthread.h>

#include "engine/api/engine_win.h"

namespace mirrow {
namespace {

// Running, not being stopped, and every watcher still inside its loop; with
// no watchers the engine is healthy exactly while it runs.
bool watchers_healthy(const Engine& engine) {
  bool healthy = engine.running.load() && !engine.stopping;
  for (const auto& watcher : engine.watchers) healthy = healthy && watcher->active.load();
  return healthy;
}

double watcher_cpu_seconds(Engine& engine) {
  double total = 0.0;
  for (auto& watcher : engine.watchers) total += thread_cpu_seconds(watcher->thread);
  return total;
}

}  // namespace

double thread_cpu_seconds(std::thread& thread) noexcept {
  if (!thread.joinable()) return 0.0;
  // std::thread runs on winpthreads here; the Windows handle stays owned by
  // the thread object and is not closed.
  const HANDLE handle = static_cast<HANDLE>(pthread_gethandle(thread.native_handle()));
  if (handle == nullptr) return 0.0;
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetThreadTimes(handle, &created, &exited, &kernel, &user)) return 0.0;
  return static_cast<double>(filetime_value(kernel) + filetime_value(user)) / 10000000.0;
}

LiveFigures gather_live_figures(Engine& engine) {
  // The start and stop sequences change what is read here only under this
  // lock, and hold it only for moments, so a report never waits for them.
  std::lock_guard hold(engine.live_lock);
  LiveFigures live;
  live.capture_live = engine.capture.capture_live.load();
  live.watchers_healthy = watchers_healthy(engine);
  live.etw_cpu_seconds = thread_cpu_seconds(engine.capture.thread);
  live.watch_cpu_seconds = watcher_cpu_seconds(engine);
  // Losses: a running capture session is asked itself; without one the
  // figures saved by the last stop stand.
  if (engine.capture.session_handle.load() != 0) {
    const std::optional<SessionLosses> losses = query_capture_losses(engine.capture, engine.startup);
    live.live_losses_known = losses.has_value();
    live.live_query_failed = !losses.has_value();
    if (losses) {
      live.events_lost = losses->events;
      live.buffers_lost = losses->buffers;
    }
  }
  return live;
}

}  // namespace mirrow
