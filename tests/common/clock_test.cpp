// The tick-count difference that the engine's intervals and ages use.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "common/clock.h"

namespace mirrow {
namespace {

TEST(MsSince, counts_the_milliseconds_from_an_earlier_tick_count) {
  EXPECT_EQ(ms_since(1000, 3500), 2500u);
  EXPECT_EQ(ms_since(7, 7), 0u);
}

TEST(MsSince, a_tick_count_past_now_is_no_time_rather_than_a_wrapped_age) {
  EXPECT_EQ(ms_since(1001, 1000), 0u);
  EXPECT_EQ(ms_since(std::numeric_limits<std::uint64_t>::max(), 0), 0u);
}

}  // namespace
}  // namespace mirrow
