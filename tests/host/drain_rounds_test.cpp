#include "host/drain_rounds.h"

#include <gtest/gtest.h>

namespace mirrow::host {
namespace {

TEST(DrainRounds, a_short_batch_is_followed_by_another_drain_until_one_comes_back_empty) {
  DrainRound round = DrainRound::per_tick();
  EXPECT_TRUE(round.another_after(true, 1023));  // cut by size, more may wait
  EXPECT_TRUE(round.another_after(true, 3));
  EXPECT_FALSE(round.another_after(true, 0));
  EXPECT_EQ(round.batches(), 3u);
}

TEST(DrainRounds, a_batch_of_only_malformed_records_is_not_mistaken_for_an_empty_queue) {
  DrainRound round = DrainRound::per_tick();
  EXPECT_TRUE(round.another_after(true, 2));
}

TEST(DrainRounds, an_unreadable_drain_ends_the_round_even_with_no_limit) {
  EXPECT_FALSE(DrainRound::per_tick().another_after(false, 0));
  EXPECT_FALSE(DrainRound::until_empty().another_after(false, 0));
}

TEST(DrainRounds, a_tick_round_gives_way_after_its_batch_limit_while_records_keep_coming) {
  DrainRound round = DrainRound::per_tick();
  std::size_t drains = 1;
  while (round.another_after(true, 1024)) ++drains;
  EXPECT_EQ(drains, kBatchesPerTick);
}

TEST(DrainRounds, the_round_after_the_stop_drains_past_any_tick_limit_until_empty) {
  DrainRound round = DrainRound::until_empty();
  for (std::size_t i = 0; i < kBatchesPerTick * 4; ++i) ASSERT_TRUE(round.another_after(true, 7));
  EXPECT_FALSE(round.another_after(true, 0));
}

}  // namespace
}  // namespace mirrow::host
