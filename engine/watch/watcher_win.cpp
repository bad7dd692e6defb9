#include "engine/watch/watcher_win.h"

#include <windows.h>

#include "engine/api/engine_win.h"

namespace mirrow {

void run_watcher(Engine& engine, Watcher& watcher) noexcept {
  SetEvent(watcher.ready_event.get());
  WaitForSingleObject(engine.stop_event.get(), INFINITE);
}

}  // namespace mirrow
