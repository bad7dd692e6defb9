#include "common/short_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace mirrow {
namespace {

TEST(ShortLock, threads_that_share_it_never_lose_an_update) {
  ShortLock lock;
  std::uint64_t total = 0;  // plain on purpose: only the lock orders the updates
  constexpr int threads = 4;
  constexpr int updates = 200000;
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&] {
      for (int i = 0; i < updates; ++i) {
        std::lock_guard hold(lock);
        total += 1;
      }
    });
  }
  for (std::thread& w : workers) w.join();
  EXPECT_EQ(total, std::uint64_t{threads} * updates);
}

TEST(ShortLock, a_waiter_gets_it_once_a_long_holder_lets_go) {
  ShortLock lock;
  lock.lock();
  std::atomic<bool> got{false};
  std::thread waiter([&] {
    std::lock_guard hold(lock);
    got = true;
  });
  // Long enough for the waiter to spin, yield and sleep.
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(got.load());
  EXPECT_FALSE(lock.try_lock());
  lock.unlock();
  waiter.join();
  EXPECT_TRUE(got.load());
  EXPECT_TRUE(lock.try_lock());
  lock.unlock();
}

}  // namespace
}  // namespace mirrow
