#include <time.h>

#include "common/clock.h"
#include "common/file_time.h"

namespace mirrow {

std::uint64_t tick_ms() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

double now_unix_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  const std::int64_t t = static_cast<std::int64_t>(ts.tv_sec) * filetime_units_per_second + ts.tv_nsec / 100 + filetime_unix_epoch;
  return unix_seconds_from_filetime(t);
}

}  // namespace mirrow
