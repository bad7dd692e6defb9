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
#include "engine/core/engine_core.h"
#include "engine/capture/trace_session_win.h"

namespace mirrow {

struct Watcher {
  UniqueHandle directory;
  UniqueHandle ready_event;  // manual reset, signalled once the first watch is posted
  std::u16string path;       // normalised
  std::u16string spelling;   // as the host spelled the root: opened, and the base of reported names
  std::thread thread;
  std::atomic<bool> active{false};
};

struct Engine : EngineCore {
  // Serialises the exports that start, stop or destroy the engine with each
  // other and with the readers of its threads and session (vt_stats,
  // vt_diagnostics). Engine threads never take it.
  std::mutex lifecycle_lock;
  UniqueHandle stop_event;  // manual reset: signalled by the stop sequence
  std::vector<std::unique_ptr<Watcher>> watchers;
  CaptureSession capture;
};

// Null when anything fails.
Engine* create_engine() noexcept;
std::uint32_t start_engine(Engine& engine, bool capture, bool track_missing_opens);
// Safe at any point and when repeated.
void stop_sequence(Engine& engine) noexcept;
void destroy_engine(Engine* engine) noexcept;

}  // namespace mirrow
