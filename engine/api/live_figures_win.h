#pragma once
// The report figures that only the running system can give: watcher and
// capture state, the capture session's losses and the CPU time of the
// engine's threads.
#include <thread>

#include "engine/api/reports.h"

namespace mirrow {

struct Engine;

// Takes the engine's live_lock; never waits for a start or a stop.
LiveFigures gather_live_figures(Engine& engine);

// Kernel plus user time the thread has used, in seconds; 0 for a thread that
// does not exist or whose times the system cannot give.
double thread_cpu_seconds(std::thread& thread) noexcept;

}  // namespace mirrow
