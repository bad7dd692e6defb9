#include <windows.h>

#include "common/clock.h"
#include "common/file_time.h"

namespace mirrow {

std::uint64_t tick_ms() { return GetTickCount64(); }

double now_unix_seconds() {
  FILETIME ft{};
  GetSystemTimePreciseAsFileTime(&ft);
  const std::int64_t t = static_cast<std::int64_t>((static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
  return unix_seconds_from_filetime(t);
}

}  // namespace mirrow
