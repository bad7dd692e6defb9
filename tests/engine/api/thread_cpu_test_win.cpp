// CPU time of engine threads as the diagnostics report it.
#include "engine/api/live_figures_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace mirrow {
namespace {

double own_cpu_seconds() {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0.0;
  const auto units = [](const FILETIME& t) { return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  return static_cast<double>(units(kernel) + units(user)) / 1e7;
}

TEST(ThreadCpuSeconds, a_busy_thread_shows_its_cpu_time_and_a_missing_one_shows_zero) {
  std::thread none;
  EXPECT_EQ(thread_cpu_seconds(none), 0.0);

  std::atomic<bool> done{false};
  std::atomic<bool> release{false};
  // Spins until it has used a tenth of a second of CPU by its own account
  // (the machine may be busy, so wall time says little).
  std::thread busy([&] {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (own_cpu_seconds() < 0.1 && std::chrono::steady_clock::now() < give_up) {
      volatile std::uint64_t spin = 0;
      for (int i = 0; i < 100000; ++i) spin = spin + 1;
    }
    done = true;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const double seconds = thread_cpu_seconds(busy);
  release = true;
  busy.join();
  EXPECT_GE(seconds, 0.1);
  EXPECT_LT(seconds, 20.0);
}

}  // namespace
}  // namespace mirrow
