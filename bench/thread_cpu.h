#pragma once
// CPU time of the calling thread in seconds, which stays meaningful on a
// machine busy with other work.
#ifdef _WIN32
#include <windows.h>
#else
#include <ctime>
#endif

namespace mirrow::bench {

inline double thread_cpu_seconds() {
#ifdef _WIN32
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0.0;
  auto units = [](const FILETIME& f) { return (static_cast<ULONGLONG>(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
  return static_cast<double>(units(kernel) + units(user)) * 1e-7;
#else
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
#endif
}

}  // namespace mirrow::bench
