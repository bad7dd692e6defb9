#include "engine/watch/watcher_win.h"

#include <array>
#include <memory>

#include "common/unique_handle.h"
#include "engine/watch/change_recorder.h"

namespace mirrow {
namespace {

constexpr DWORD change_buffer_bytes = 65536;
// Names of files and directories, size, last write and creation time.
constexpr DWORD change_filter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_SIZE |
                                FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_CREATION;
static_assert(change_filter == 0x5B);
constexpr DWORD notify_enum_dir = 1022;  // the change list overflowed, changes were dropped

struct ChangeBuffer {
  alignas(8) std::array<std::uint8_t, change_buffer_bytes> bytes;
};

bool stop_requested(HANDLE stop_event) { return WaitForSingleObject(stop_event, 0) == WAIT_OBJECT_0; }

// Ends the thread's life as seen from outside: vt_start and vt_stats read
// active, and vt_start may still be waiting for the first ready signal.
void report_ended(Watcher& watcher) {
  watcher.active.store(false);
  SetEvent(watcher.ready_event.get());
}

enum class Cycle { next, end };

class DirectoryWatch {
 public:
  DirectoryWatch(Watcher& watcher, HANDLE stop_event, const WatchOutput& output, const WatchCalls& calls,
                 HANDLE io_event, ChangeBuffer& buffer)
      : stop_event_(stop_event), watcher_(watcher), calls_(calls), io_event_(io_event), buffer_(buffer),
        recorder_(output.names, output.counters, output.activity,
                  watcher.spelling.empty() ? watcher.path : watcher.spelling) {}

  void run() {
    while (!stop_requested(stop_event_) && one_cycle() == Cycle::next) {
    }
    recorder_.finish();
  }

 private:
  Cycle one_cycle() {
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = io_event_;
    ResetEvent(io_event_);
    if (!calls_.read_changes(watcher_.directory.get(), buffer_.bytes.data(), change_buffer_bytes, TRUE, change_filter,
                             nullptr, &overlapped_, nullptr) &&
        GetLastError() != ERROR_IO_PENDING) {
      recorder_.count_lost_round();
      return Cycle::end;
    }
    SetEvent(watcher_.ready_event.get());

    const HANDLE waits[] = {stop_event_, io_event_};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
      cancel_outstanding_request();
      return Cycle::end;
    }
    return handle_completion();
  }

  Cycle handle_completion() {
    DWORD bytes = 0;
    if (!calls_.overlapped_result(watcher_.directory.get(), &overlapped_, &bytes, FALSE)) {
      const DWORD error = GetLastError();
      recorder_.count_lost_round();
      return error == notify_enum_dir ? Cycle::next : Cycle::end;
    }
    // Zero bytes: the system dropped the changes because they did not fit.
    if (bytes == 0) recorder_.count_lost_round();
    else recorder_.handle_buffer(buffer_.bytes.data(), bytes > change_buffer_bytes ? change_buffer_bytes : bytes);
    return Cycle::next;
  }

  // The buffer must not be released while the system may still write to it.
  void cancel_outstanding_request() {
    calls_.cancel_io(watcher_.directory.get(), &overlapped_);
    DWORD ignored = 0;
    calls_.overlapped_result(watcher_.directory.get(), &overlapped_, &ignored, TRUE);
  }

  HANDLE stop_event_;
  Watcher& watcher_;
  const WatchCalls& calls_;
  HANDLE io_event_;
  ChangeBuffer& buffer_;
  ChangeRecorder recorder_;
  OVERLAPPED overlapped_{};
};

}  // namespace

const WatchCalls& system_watch_calls() noexcept {
  // The addresses of imported functions are known only once the loader
  // has filled the import table, so the table is made on first use.
  static const WatchCalls calls{&::ReadDirectoryChangesW, &::GetOverlappedResult, &::CancelIoEx};
  return calls;
}

void run_watcher(Watcher& watcher, HANDLE stop_event, const WatchOutput& output) noexcept {
  watch_directory(watcher, stop_event, output, system_watch_calls());
}

void watch_directory(Watcher& watcher, HANDLE stop_event, const WatchOutput& output,
                     const WatchCalls& calls) noexcept {
  try {
    UniqueHandle io_event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!io_event) {
      output.counters.add(Counter::errors);
      report_ended(watcher);
      return;
    }
    auto buffer = std::make_unique<ChangeBuffer>();
    DirectoryWatch(watcher, stop_event, output, calls, io_event.get(), *buffer).run();
  } catch (...) {
    // Only the set-up allocates outside the recorder, which contains its own.
    output.counters.add(Counter::errors);
  }
  report_ended(watcher);
}

}  // namespace mirrow
