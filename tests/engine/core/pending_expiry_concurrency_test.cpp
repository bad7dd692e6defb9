// Reads parked on the decoding thread while a host thread polls the expiry,
// as vt_stats does, both with the real clock. Each parked read is named and
// recovered within a few milliseconds, far below the two seconds a read may
// wait for its name, so every give-up would be an early one. Built with the
// core's concurrency test, so that ThreadSanitizer sees it too.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <thread>

#include "engine/api/reports.h"
#include "engine/capture/binding.h"
#include "engine/core/activity_kind.h"
#include "engine/api/engine_core.h"
#include "engine/core/names.h"

namespace mirrow {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto run_length = std::chrono::seconds(3);
constexpr std::uint32_t reader_pid = 700;
constexpr double t0 = 1764979200.0;
constexpr std::uint64_t reads_per_round = 32;

// The decoding thread: each round parks reads of identities never named
// before, then names them and recovers them in a forced pass. Returns how
// many reads it parked.
std::uint64_t park_and_name_late(EngineCore& engine, const NameRef& name, Clock::time_point until) {
  std::uint64_t next_object = 1;
  while (Clock::now() < until) {
    const std::uint64_t first = next_object;
    for (std::uint64_t i = 0; i < reads_per_round; ++i) {
      attribute_io(engine.decoding, next_object++, 0, kind_read, reader_pid, t0);
    }
    for (std::uint64_t object = first; object < next_object; ++object) {
      bind_name(engine.bindings, engine.counters, BindingMapId::objects, object, name, t0);
    }
    recover_pending(engine.bindings, engine.counters, engine.recorder, true);
  }
  return next_object - 1;
}

// A host thread reading the statistics, which first expire what is due.
std::uint64_t poll_statistics(EngineCore& engine, Clock::time_point until) {
  std::uint64_t polls = 0;
  for (; Clock::now() < until; ++polls) statistics_values(engine, LiveFigures{});
  return polls;
}

TEST(PendingExpiryBesideParking, a_host_polling_the_expiry_never_gives_up_a_read_named_within_milliseconds) {
  EngineCore engine;
  const NameRef name = intern_name(engine.names, engine.counters, u"c:\\late\\named-soon.txt");
  const Clock::time_point until = Clock::now() + run_length;
  std::uint64_t parked = 0;
  std::thread decoding([&] { parked = park_and_name_late(engine, name, until); });
  const std::uint64_t polls = poll_statistics(engine, until);
  decoding.join();

  const std::uint64_t given_up = engine.counters.get(Counter::unattributed);
  std::printf("pending expiry beside parking: %llu reads parked, %llu expiry polls, %llu given up early\n",
              static_cast<unsigned long long>(parked), static_cast<unsigned long long>(polls),
              static_cast<unsigned long long>(given_up));
  EXPECT_GT(parked, 0u);
  EXPECT_GT(polls, 0u);
  EXPECT_EQ(given_up, 0u);
  EXPECT_TRUE(unknown_samples_snapshot(engine.bindings).empty());
  EXPECT_EQ(engine.counters.get(Counter::late_recovered), parked);
  EXPECT_EQ(engine.counters.get(Counter::pending_names), 0u);
}

}  // namespace
}  // namespace mirrow
