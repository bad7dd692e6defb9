#include <windows.h>

#include <memory>
#include <mutex>
#include <system_error>

#include "engine/api/engine_win.h"
#include "engine/core/result_codes.h"
#include "engine/watch/watcher_win.h"

namespace mirrow {
namespace {

std::u16string query_device(const char16_t* drive) {
  std::u16string buffer(32768, u'\0');
  const DWORD written = QueryDosDeviceW(wide(drive), wide(buffer.data()), static_cast<DWORD>(buffer.size()));
  if (written == 0) return {};
  buffer.resize(utf16_length(buffer.c_str()));
  return buffer;
}

// Opens a watched directory for overlapped change notification, by the
// spelling the host gave: in a case-sensitive parent the normalised path may
// name a sibling that differs only in case.
UniqueHandle open_watched_directory(const Watcher& watcher) {
  if (const std::uint32_t refusal = long_path_refusal(watcher.path)) {
    SetLastError(refusal);
    return UniqueHandle();
  }
  const std::u16string long_path = long_path_form(watcher.spelling);
  return UniqueHandle(CreateFileW(wide(long_path.c_str()), FILE_LIST_DIRECTORY,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr));
}

UniqueHandle new_manual_reset_event() {
  UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!event) throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "CreateEventW");
  return event;
}

// The last part of a start: one thread per watcher, each must report ready
// within five seconds, or the whole start is undone.
std::uint32_t start_watcher_threads(Engine& engine) {
  for (auto& watcher : engine.watchers) {
    watcher->active.store(true);
    Watcher& w = *watcher;
    std::lock_guard live(engine.live_lock);
    watcher->thread = std::thread([&engine, &w] { run_watcher(w, engine.stop_event.get(), watch_output(engine)); });
  }
  for (auto& watcher : engine.watchers) {
    const DWORD wait = WaitForSingleObject(watcher->ready_event.get(), 5000);
    if (wait != WAIT_OBJECT_0 || !watcher->active.load()) {
      stop_sequence(engine);
      return result_timeout;
    }
  }
  return result_ok;
}

}  // namespace

Engine* create_engine() noexcept {
  try {
    auto engine = std::make_unique<Engine>();
    engine->own_pid = GetCurrentProcessId();
    engine->stop_event = new_manual_reset_event();
    engine->names.device_map = build_device_map(query_device);
    return engine.release();
  } catch (...) {
    return nullptr;
  }
}

std::uint32_t start_engine(Engine& engine, bool capture, bool track_missing_opens) {
  if (engine.running.load()) return result_already_running;
  ResetEvent(engine.stop_event.get());
  // Waits for a replay or test emit in progress on another thread and keeps
  // the next one out until running is set: they read the roots reordered
  // here and the decoding state the capture thread will own.
  std::unique_lock replays(engine.replay_lock);
  engine.missing_paths.track_missing_opens = track_missing_opens;
  prepare_roots_for_start(engine.root_set);

  for (const std::u16string& path : choose_watched_directories(engine.root_set.roots)) {
    auto watcher = std::make_unique<Watcher>();
    watcher->ready_event = new_manual_reset_event();
    watcher->path = path;
    watcher->spelling = root_spelling(engine.root_set.roots, path);
    watcher->directory = open_watched_directory(*watcher);
    if (!watcher->directory) {
      const DWORD code = GetLastError();
      replays.unlock();
      stop_sequence(engine);
      return code;
    }
    std::lock_guard live(engine.live_lock);
    engine.watchers.push_back(std::move(watcher));
  }
  engine.running.store(true);
  replays.unlock();

  if (const std::uint32_t status = start_watcher_threads(engine); status != result_ok) return status;
  return capture ? start_trace_sessions(engine.capture, capture_links(engine)) : result_ok;
}

namespace {

// The watchers leave the list (under live_lock) before they are waited for,
// so the reports never read one that is being taken down.
void stop_watchers(Engine& engine) noexcept {
  std::vector<std::unique_ptr<Watcher>> leaving;
  {
    std::lock_guard live(engine.live_lock);
    leaving.swap(engine.watchers);
  }
  for (auto& watcher : leaving) {
    if (watcher->directory) CancelIoEx(watcher->directory.get(), nullptr);
    if (watcher->thread.joinable()) {
      // A watcher never stops its own engine, but if it ever did, joining
      // itself would deadlock; letting it go is the only safe choice.
      if (watcher->thread.get_id() == std::this_thread::get_id()) watcher->thread.detach();
      else watcher->thread.join();
    }
    watcher->directory.reset();
  }
}

void set_stopping(Engine& engine, bool stopping) noexcept {
  std::lock_guard live(engine.live_lock);
  engine.stopping = stopping;
}

}  // namespace

void stop_sequence(Engine& engine) noexcept {
  set_stopping(engine, true);
  if (engine.stop_event) SetEvent(engine.stop_event.get());
  stop_capture(engine.capture, capture_links(engine));
  try {
    // The capture thread has ended; a replay may run here only when the
    // engine was already stopped, and then must wait.
    std::lock_guard replays(engine.replay_lock);
    finish_pending_at_stop(engine.bindings, engine.counters, engine.recorder);
  } catch (...) {
    engine.counters.add(Counter::errors);
  }
  stop_watchers(engine);
  {
    std::lock_guard live(engine.live_lock);
    engine.running.store(false);
    engine.stopping = false;
  }
}

void destroy_engine(Engine* engine) noexcept {
  if (engine == nullptr) return;
  stop_sequence(*engine);
  delete engine;
}

}  // namespace mirrow
