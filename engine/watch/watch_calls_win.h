#pragma once
// The directory-change calls a watcher makes, as a table so that tests can
// script results the file system will not produce on demand (overflows,
// failing completions).
#include <windows.h>

namespace mirrow {

struct WatchCalls {
  decltype(&::ReadDirectoryChangesW) read_changes;
  decltype(&::GetOverlappedResult) overlapped_result;
  decltype(&::CancelIoEx) cancel_io;
};

const WatchCalls& system_watch_calls() noexcept;

}  // namespace mirrow
