#include <windows.h>

#include "common/filetime_win.h"
#include "common/clock.h"
#include "common/file_time.h"

namespace mirrow {

std::uint64_t tick_ms() { return GetTickCount64(); }

double now_unix_seconds() {
  FILETIME ft{};
  GetSystemTimePreciseAsFileTime(&ft);
  return unix_seconds_from_filetime(static_cast<std::int64_t>(filetime_value(ft)));
}

}  // namespace mirrow
