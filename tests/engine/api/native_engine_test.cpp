// The narrow in-process entry: configuration, replays and live events reach
// the engine, the drain hands out what they recorded, and counters and sizes
// read back what the benchmarks print.
#include "engine/api/native_engine.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "support/drain_tally.h"
#include "support/event_payloads.h"

namespace mirrow::test {
namespace {

using testing::tally_drain;

constexpr std::uint32_t pid = 4100;
constexpr double seconds = 1764979200.5;
// 1764979200.5 Unix seconds in 100-ns units since 1601.
constexpr std::int64_t filetime = 116444736000000000LL + 17649792005000000LL;

class NativeEngineTest : public ::testing::Test {
 protected:
  NativeEngineTest() {
    engine.set_own_pid(1);
    engine.add_root(1, u"C:\\Data", false);
  }

  LiveEvent live(LiveProvider provider, std::uint16_t id, std::uint8_t version, const Bytes& payload) {
    LiveEvent e;
    e.provider = provider;
    e.id = id;
    e.version = version;
    e.pid = pid;
    e.filetime = filetime;
    e.payload = payload.data();
    e.length = static_cast<std::uint16_t>(payload.size());
    return e;
  }

  std::string drained() { return std::string(engine.drain()); }

  NativeEngine engine;
};

TEST_F(NativeEngineTest, every_counter_reads_by_its_statistics_key_and_an_unknown_key_throws) {
  for (const char* key :
       {"events", "errors", "unattributed", "key_derived_bindings", "own_io", "dropped", "watch_losses",
        "watch_notifications", "initial_missing", "late_recovered", "no_identity", "name_not_seen", "pending_limit",
        "mapping_evictions", "unsupported", "malformed", "pending_names", "io_total", "newer_binding",
        "manifest_names", "classic_names", "helper_events", "own_reads", "own_writes"}) {
    EXPECT_EQ(engine.counter(key), 0u) << key;
  }
  EXPECT_THROW(engine.counter("io-total"), std::invalid_argument);
  EXPECT_THROW(engine.counter(""), std::invalid_argument);
}

TEST_F(NativeEngineTest, replayed_reads_of_a_named_key_are_attributed_and_drained_as_one_group) {
  const Bytes name = name_event(8, 0xA0, u"C:\\Data\\Report.txt");
  const Bytes read = io_event(8, 1, 0xB0, 0xA0);
  engine.replay(10, 0, pid, seconds, name.data(), name.size());
  EXPECT_EQ(engine.replay_many(15, 1, pid, seconds, read.data(), read.size(), 5), 0u);
  EXPECT_EQ(engine.counter("events"), 6u);
  EXPECT_EQ(engine.counter("io_total"), 5u);
  EXPECT_EQ(engine.sizes().key_bindings, 1u);

  const std::string text = drained();
  const auto tally = tally_drain(text);
  ASSERT_TRUE(tally.well_formed) << text;
  EXPECT_EQ(tally.records, 1u);
  EXPECT_EQ(tally.by_pid.at(pid), 5u);
  EXPECT_NE(text.find("report.txt"), std::string::npos) << text;
  EXPECT_EQ(drained(), "[]");
}

TEST_F(NativeEngineTest, replay_many_refuses_more_than_the_repeat_cap) {
  const Bytes read = io_event(8, 1, 0xB0, 0xA0);
  EXPECT_EQ(engine.replay_many(15, 1, pid, seconds, read.data(), read.size(), 10000001), 87u);
  EXPECT_EQ(engine.counter("events"), 0u);
}

TEST_F(NativeEngineTest, the_engines_own_process_is_not_reported) {
  engine.record(u"c:\\data\\own.txt", 1, 1, seconds, 1);
  engine.record(u"c:\\data\\other.txt", 1, pid, seconds, 3);
  const auto tally = tally_drain(drained());
  EXPECT_EQ(tally.records, 1u);
  EXPECT_EQ(tally.by_pid.at(pid), 3u);
}

TEST_F(NativeEngineTest, recorded_activity_waits_in_open_groups_until_a_drain_takes_it) {
  engine.record(u"c:\\data\\a.txt", 1, pid, seconds, 3);
  engine.record(u"c:\\data\\b.txt", 2, pid, seconds, 2);
  engine.record(u"c:\\elsewhere\\c.txt", 1, pid, seconds, 1);
  EXPECT_EQ(engine.sizes().open_groups, 2u);
  EXPECT_EQ(engine.sizes().names, 3u);

  const auto tally = tally_drain(drained());
  EXPECT_EQ(tally.records, 2u);
  EXPECT_EQ(tally.total, 5u);
  const NativeEngineSizes after = engine.sizes();
  EXPECT_EQ(after.open_groups, 0u);
  EXPECT_EQ(after.ready_groups, 0u);
  EXPECT_EQ(after.names_held_by_table_alone, after.names);
  EXPECT_GT(after.name_bytes, 0u);
}

TEST_F(NativeEngineTest, live_events_of_both_providers_reach_the_decoder_through_the_intake) {
  const Bytes classic_name = name_event(8, 0xA1, u"C:\\Data\\Classic.txt");
  LiveEvent named = live(LiveProvider::classic_file_io, 0, 0, classic_name);
  named.opcode = 32;  // a file create of the classic class
  engine.deliver(named);
  EXPECT_EQ(engine.counter("classic_names"), 1u);

  const Bytes read = io_event(8, 1, 0xB1, 0xA1);
  engine.deliver(live(LiveProvider::kernel_file, 15, 1, read));
  EXPECT_EQ(engine.counter("io_total"), 1u);
  const auto tally = tally_drain(drained());
  EXPECT_EQ(tally.records, 1u);
  EXPECT_EQ(tally.by_pid.at(pid), 1u);
}

TEST_F(NativeEngineTest, device_paths_are_mapped_to_their_drive_before_classification) {
  engine.map_device(u"\\device\\harddiskvolume1", u"c:");
  const Bytes name = name_event(8, 0xA2, u"\\Device\\HarddiskVolume1\\Data\\Mapped.txt");
  const Bytes read = io_event(8, 1, 0xB2, 0xA2);
  engine.replay(10, 0, pid, seconds, name.data(), name.size());
  engine.replay(15, 1, pid, seconds, read.data(), read.size());
  const std::string text = drained();
  EXPECT_NE(text.find("c:\\\\data\\\\mapped.txt"), std::string::npos) << text;
}

TEST_F(NativeEngineTest, opens_of_watched_missing_paths_wait_only_while_tracked) {
  const Bytes open = create_event(8, 1, 0xC0, 0xB3, u"C:\\Data\\Missing.txt");
  engine.add_missing(u"c:\\data\\missing.txt");
  engine.replay(12, 1, pid, seconds, open.data(), open.size());
  EXPECT_EQ(engine.sizes().pending_opens, 0u);

  engine.track_missing_opens(true);
  engine.replay(12, 1, pid, seconds, open.data(), open.size());
  EXPECT_EQ(engine.sizes().pending_opens, 1u);
}

TEST_F(NativeEngineTest, a_root_id_below_one_is_refused) {
  EXPECT_EQ(engine.add_root(0, u"C:\\Other", false), 87u);
  EXPECT_EQ(engine.add_root(2, u"C:\\Other", true), 0u);
}

}  // namespace
}  // namespace mirrow::test
