#pragma once
// A lock for the event path's short critical sections (folding one event
// into its group, looking up one name), taken hundreds of thousands of times
// a second by the decoding thread and seldom by anyone else. Taking it is one
// atomic exchange and giving it back one plain store, where a mutex pays an
// atomic operation both ways and a call into the threads library.
//
// A waiter spins briefly, then yields its time slice, then sleeps between
// tries, so a holder that runs long (a drain sorting thousands of groups)
// costs it little CPU and a holder of lower priority always gets to run.
// Not fair and not recursive; meets the standard Lockable requirements.
#include <atomic>
#include <chrono>
#include <thread>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace mirrow {

class ShortLock {
 public:
  ShortLock() noexcept = default;
  ShortLock(const ShortLock&) = delete;
  ShortLock& operator=(const ShortLock&) = delete;

  void lock() noexcept {
    if (!held_.exchange(true, std::memory_order_acquire)) return;
    wait_and_lock();
  }
  bool try_lock() noexcept {
    return !held_.load(std::memory_order_relaxed) && !held_.exchange(true, std::memory_order_acquire);
  }
  void unlock() noexcept { held_.store(false, std::memory_order_release); }

 private:
  static constexpr unsigned spins_before_yield = 64;
  static constexpr unsigned yields_before_sleep = 256;

  void wait_and_lock() noexcept {
    for (unsigned tries = 0;; ++tries) {
      if (try_lock()) return;
      if (tries < spins_before_yield) {
        pause();
      } else if (tries < spins_before_yield + yields_before_sleep) {
        std::this_thread::yield();
      } else {
        std::this_thread::sleep_for(std::chrono::microseconds(50));
      }
    }
  }

  static void pause() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#endif
  }

  std::atomic<bool> held_{false};
};

}  // namespace mirrow
