// Replay of one event through the real decoder, once or many times.
#include <gtest/gtest.h>

#include "decode_fixture.h"
#include "engine/api/configuration.h"

namespace mirrow::test {
namespace {

class ReplayTest : public DecodeTest {
 protected:
  ReplayEvent event(std::uint16_t id, std::uint8_t version, const Bytes& payload, double t) {
    return ReplayEvent{id, version, 8, pid, t, payload.data(), payload.size()};
  }
};

TEST_F(ReplayTest, a_null_payload_is_accepted_only_without_length) {
  EXPECT_EQ(replay_event(engine, ReplayEvent{15, 1, 8, pid, 10, nullptr, 0}), result_ok);
  EXPECT_EQ(counter(Counter::malformed), 1u);
  EXPECT_EQ(replay_event(engine, ReplayEvent{15, 1, 8, pid, 10, nullptr, 1}), result_invalid);
  EXPECT_EQ(replay_event_many(engine, ReplayEvent{15, 1, 8, pid, 10, nullptr, 1}, 1), result_invalid);
  EXPECT_EQ(counter(Counter::events), 1u);
}

TEST_F(ReplayTest, replays_are_refused_while_the_engine_runs) {
  engine.running.store(true);
  const Bytes read = io_event(8, 1, 7, 8);
  EXPECT_EQ(replay_event(engine, event(15, 1, read, 10)), result_invalid);
  EXPECT_EQ(replay_event_many(engine, event(15, 1, read, 10), 1), result_invalid);
  EXPECT_EQ(counter(Counter::events), 0u);
}

TEST_F(ReplayTest, repeat_is_capped_at_ten_million_and_zero_does_nothing) {
  const ReplayEvent ignored{13, 0, 8, pid, 10, nullptr, 0};
  EXPECT_EQ(replay_event_many(engine, ignored, replay_repeat_cap + 1), result_invalid);
  EXPECT_EQ(replay_event_many(engine, ignored, 0), result_ok);
  EXPECT_EQ(counter(Counter::events), 0u);
  EXPECT_EQ(replay_event_many(engine, ignored, replay_repeat_cap), result_ok);
  EXPECT_EQ(counter(Counter::events), replay_repeat_cap);
}

TEST_F(ReplayTest, a_read_replayed_before_its_name_is_attributed_by_the_pass_after_the_name) {
  EXPECT_EQ(replay_event(engine, event(15, 1, io_event(8, 1, 7, 8), 11)), result_ok);
  EXPECT_EQ(counter(Counter::pending_names), 1u);
  EXPECT_EQ(replay_event(engine, event(10, 0, name_event(8, 8, u"c:\\data\\a"), 10)), result_ok);
  EXPECT_EQ(counter(Counter::late_recovered), 1u);
  EXPECT_EQ(activities().size(), 1u);
}

TEST_F(ReplayTest, many_replays_of_a_bound_read_merge_into_one_group) {
  replay_event(engine, event(10, 0, name_event(8, 8, u"c:\\data\\a"), 10));
  EXPECT_EQ(replay_event_many(engine, event(15, 1, io_event(8, 1, 7, 8), 11), 5000), result_ok);
  const auto got = activities();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].count, 5000u);
  EXPECT_EQ(counter(Counter::key_derived_bindings), 1u);
  EXPECT_EQ(counter(Counter::events), 5001u);
}

}  // namespace
}  // namespace mirrow::test
