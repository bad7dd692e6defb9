// The engine core driven from several threads at once, the way the exports
// and the engine's own threads drive it: a lifecycle thread that starts and
// stops (with a capture thread and two directory watchers while running), a
// host thread replaying events, and host threads draining, reading the
// reports and changing the missing paths, the probe and the tracking of
// opens. Built natively so that ThreadSanitizer sees every access; the
// counts must balance at the end.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/activity/aggregation.h"
#include "engine/api/configuration.h"
#include "engine/activity/drain_format.h"
#include "engine/api/reports.h"
#include "engine/api/engine_core.h"
#include "engine/api/host_events.h"
#include "engine/core/names.h"
#include "engine/capture/binding.h"
#include "engine/capture/decoder.h"
#include "engine/capture/payload_parse.h"
#include "engine/watch/change_recorder.h"
#include "support/change_records.h"
#include "support/drain_tally.h"
#include "support/event_payloads.h"

namespace mirrow {
namespace {

using mirrow::test::Bytes;
namespace payload = mirrow::test;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t own_pid = 777;
constexpr std::uint32_t replay_pid = 700;
constexpr std::uint32_t capture_pid = 800;
constexpr double t0 = 1764979200.0;
constexpr auto run_length = std::chrono::milliseconds(2500);

const std::u16string root_a = u"c:\\stress\\a";
const std::u16string root_b = u"c:\\stress\\b";

// The start and stop sequences' steps on the core, with the locks they take
// (lifecycle_win.cpp): the start reorders the roots and sets running under
// replay_lock; the stop, once the capture thread has ended, finishes the
// pending reads and writes under it, and clears running after the watchers.
void start_core(EngineCore& engine, bool track_missing_opens) {
  std::lock_guard hold(engine.replay_lock);
  engine.missing_paths.track_missing_opens = track_missing_opens;
  prepare_roots_for_start(engine.root_set);
  engine.running.store(true);
}

void finish_core_at_stop(EngineCore& engine) {
  std::lock_guard hold(engine.replay_lock);
  finish_pending_at_stop(engine.bindings, engine.counters, engine.recorder);
}

// What the start and stop of a capture record for the reports, which any
// host thread reads meanwhile: the names session's outcome and time, the
// capture session's state request and, at the stop, its losses.
void record_capture_figures(EngineCore& engine, int cycle) {
  const auto n = static_cast<std::uint32_t>(cycle);
  engine.startup.system_names_enabled = false;
  engine.startup.names_session_status = 5;
  engine.startup.startup_name_losses = n;
  engine.startup.startup_name_seconds = 0.001 * n;
  engine.startup.capture_state_status = n;
  engine.startup.events_lost = n;
  engine.startup.buffers_lost = n;
}

class CoreConcurrency : public ::testing::Test {
 protected:
  CoreConcurrency() {
    engine.own_pid = own_pid;
    add_root(engine, 1, root_a.c_str(), false);
    add_root(engine, 2, root_b.c_str(), false);
  }

  bool running_time_left() const { return Clock::now() < deadline; }

  // One directory watcher between a start and its stop: change buffers of
  // added, modified and removed names under its root; every record makes
  // exactly one activity.
  void watch(const std::u16string& root, int cycle) {
    ChangeRecorder recorder(engine.names, engine.counters, engine.recorder, root);
    for (int round = 0; round < 40 && !watchers_stop.load(); ++round) {
      std::vector<testing::ChangeRecordSpec> specs;
      for (std::uint32_t action = 1; action <= 3; ++action) {
        specs.push_back({action, u"w" + std::u16string(1, static_cast<char16_t>(u'a' + (round + cycle) % 26)) +
                                     u".txt"});
      }
      const std::vector<std::uint8_t> bytes = testing::change_records(specs);
      recorder.handle_buffer(bytes.data(), bytes.size());
      watcher_records += specs.size();
    }
    recorder.finish();
  }

  // The capture thread between a start and its stop: names, reads and
  // deletes decoded on the engine's own thread.
  void capture(int cycle) {
    const std::uint64_t key = 0xC000 + static_cast<std::uint64_t>(cycle % 4);
    const Bytes name = payload::name_event(8, key, root_b + u"\\captured.txt");
    const Bytes read = payload::io_event(8, 1, 0xC100, key);
    const Bytes gone = payload::path_event(8, 1, root_a + u"\\captured-gone.txt");
    while (!watchers_stop.load()) {
      decode_event(engine.decoding, file_event::name_create, 0, 8, capture_pid, t0, name.data(), name.size());
      decode_event(engine.decoding, file_event::read, 1, 8, capture_pid, t0 + 1, read.data(), read.size());
      decode_event(engine.decoding, file_event::delete_path, 1, 8, capture_pid, t0 + 2, gone.data(), gone.size());
      captured_events += 3;
      captured_records += 2;
      std::this_thread::yield();
    }
  }

  void lifecycle() {
    for (int cycle = 0; cycle < 3 || running_time_left(); ++cycle) {
      start_core(engine, cycle % 2 == 1);
      record_capture_figures(engine, cycle);
      watchers_stop.store(false);
      std::thread capture_thread([this, cycle] { capture(cycle); });
      std::thread watcher_a([this, cycle] { watch(root_a, cycle); });
      std::thread watcher_b([this, cycle] { watch(root_b, cycle); });
      std::this_thread::sleep_for(std::chrono::milliseconds(15));
      // The stop sequence: end the capture, finish what is pending, end the
      // watchers, clear running.
      watchers_stop.store(true);
      capture_thread.join();
      record_capture_figures(engine, cycle);
      finish_core_at_stop(engine);
      watcher_a.join();
      watcher_b.join();
      engine.running.store(false);
      ++cycles;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      // vt_stop again, on the stopped engine: it finishes what the replays
      // left pending meanwhile.
      finish_core_at_stop(engine);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  std::uint32_t replay(std::uint16_t id, std::uint8_t version, const Bytes& bytes, double t) {
    return replay_event(engine, ReplayEvent{id, version, 8, replay_pid, t, bytes.data(), bytes.size()});
  }

  std::uint32_t replay_many(std::uint16_t id, std::uint8_t version, const Bytes& bytes, double t,
                            std::uint32_t repeat) {
    return replay_event_many(engine, ReplayEvent{id, version, 8, replay_pid, t, bytes.data(), bytes.size()}, repeat);
  }

  // vt_replay and vt_replay_many from a host thread: refused while running.
  void replayer() {
    bool named[8] = {};
    for (std::uint64_t i = 0; running_time_left(); ++i) {
      const std::uint64_t key = 0xA000 + i % 8;
      const std::u16string suffix(1, static_cast<char16_t>(u'a' + i % 8));
      const Bytes name = payload::name_event(8, key, root_a + u"\\named-" + suffix + u".txt");
      const Bytes read = payload::io_event(8, 1, 0xB000 + i % 8, key);
      const Bytes unknown = payload::io_event(8, 1, 0xDEAD0000 + i, 0xBEEF0000 + i);
      const Bytes gone = payload::path_event(8, 1, root_b + u"\\gone-" + suffix + u".txt");
      // An open of a path the hosts watch as missing, remembered only while
      // they let the replays track opens; its end never comes, so it makes
      // no activity.
      const std::u16string host_digit(1, static_cast<char16_t>(u'0' + i % 4));
      const Bytes open = payload::create_event(8, 1, 0xE000, 0xE100, root_a + u"\\missing-" + host_digit);
      if (replay(file_event::create, 1, open, t0) == result_ok) ++replayed_events;
      if (replay(file_event::name_create, 0, name, t0) == result_ok) {
        ++replayed_events;
        named[i % 8] = true;
      }
      // A read before its name was ever replayed would wait for it instead.
      if (named[i % 8] && replay_many(file_event::read, 1, read, t0 + 1, 50) == result_ok) {
        replayed_events += 50;
        replayed_records += 50;
      }
      if (replay(file_event::read, 1, unknown, t0 + 2) == result_ok) ++replayed_events;
      if (replay_many(file_event::delete_path, 1, gone, t0 + 5.0 * static_cast<double>(i % 1000), 20) ==
          result_ok) {
        replayed_events += 20;
        replayed_records += 20;
      }
      // vt_test_emit is refused while running, as the export checks.
      if (!engine.running.load() &&
          emit_test_activity(engine, (root_a + u"\\emitted.txt").c_str(), 2, replay_pid, t0 + 3) == result_ok) {
        ++replayed_records;
      }
    }
  }

  // A host thread: every output and any-time export in turn. Drains are read
  // under the host's own lock, since a drained text lasts only until the
  // next drain of the engine.
  void host(int index) {
    const std::u16string missing = root_a + u"\\missing-" + std::u16string(1, static_cast<char16_t>(u'0' + index));
    for (std::uint64_t i = 0; running_time_left(); ++i) {
      {
        std::lock_guard hold(host_drain_lock);
        const testing::DrainTally t = testing::tally_drain(drain_activity(engine.activity));
        if (!t.well_formed) ++malformed_drains;
        drained += t.total;
        ++drains;
      }
      const StatisticsValues values = statistics_values(engine, LiveFigures{});
      if (values[0] < last_events_seen[index]) ++events_went_back;
      last_events_seen[index] = values[0];
      {
        std::string text = diagnostics_document(engine, LiveFigures{});
        std::lock_guard hold(engine.diagnostics_lock);
        engine.diagnostics_text.swap(text);
        if (!testing::diagnostics_well_formed(engine.diagnostics_text)) ++malformed_diagnostics;
      }
      set_probe(engine.probe, i % 3 == 0 ? nullptr : (root_a + u"\\named-a.txt").c_str());
      add_missing(engine.missing_paths, missing.c_str());
      if (i % 5 == 4) clear_missing(engine.missing_paths);
      // vt_test_recovery: refused while running.
      set_missing_open_tracking(engine, i % 2 == 0);
      ++host_rounds;
    }
  }

  EngineCore engine;
  Clock::time_point deadline = Clock::now() + run_length;
  std::atomic<bool> watchers_stop{false};
  std::mutex host_drain_lock;

  std::atomic<std::uint64_t> watcher_records{0};
  std::atomic<std::uint64_t> captured_events{0}, captured_records{0};
  std::atomic<std::uint64_t> replayed_events{0}, replayed_records{0};
  std::atomic<std::uint64_t> cycles{0}, drains{0}, host_rounds{0};
  std::uint64_t drained = 0;  // under host_drain_lock
  std::atomic<std::uint64_t> malformed_drains{0}, malformed_diagnostics{0}, events_went_back{0};
  std::uint64_t last_events_seen[4] = {};
};

TEST_F(CoreConcurrency, start_stop_capture_watchers_replays_and_host_calls_at_once_lose_and_double_nothing) {
  std::vector<std::thread> threads;
  threads.emplace_back([this] { lifecycle(); });
  threads.emplace_back([this] { replayer(); });
  for (int i = 0; i < 4; ++i) threads.emplace_back([this, i] { host(i); });
  for (std::thread& t : threads) t.join();
  // A stop while stopped, as vt_stop allows: gives up what the last replays
  // left pending.
  finish_core_at_stop(engine);

  for (std::string text = drain_activity(engine.activity); text != "[]"; text = drain_activity(engine.activity)) {
    const testing::DrainTally t = testing::tally_drain(text);
    ASSERT_TRUE(t.well_formed) << text.substr(0, 200);
    drained += t.total;
  }
  const std::uint64_t made = watcher_records + captured_records + replayed_records;
  std::printf("core stress: %llu start/stop cycles, %llu host rounds, %llu drains, %llu events decoded "
              "(%llu replayed), %llu activities made, %llu drained, %llu dropped\n",
              static_cast<unsigned long long>(cycles.load()), static_cast<unsigned long long>(host_rounds.load()),
              static_cast<unsigned long long>(drains.load()),
              static_cast<unsigned long long>(engine.counters.get(Counter::events)),
              static_cast<unsigned long long>(replayed_events.load()), static_cast<unsigned long long>(made),
              static_cast<unsigned long long>(drained),
              static_cast<unsigned long long>(engine.counters.get(Counter::dropped)));

  EXPECT_GE(cycles.load(), 3u);
  EXPECT_GT(replayed_events.load(), 0u);
  EXPECT_GT(watcher_records.load(), 0u);
  EXPECT_EQ(malformed_drains.load(), 0u);
  EXPECT_EQ(malformed_diagnostics.load(), 0u);
  EXPECT_EQ(events_went_back.load(), 0u);
  // Only replays and the capture thread decode, never two at once, so the
  // plain increment of events is exact.
  EXPECT_EQ(engine.counters.get(Counter::events), replayed_events + captured_events);
  EXPECT_EQ(engine.counters.get(Counter::watch_notifications), watcher_records.load());
  EXPECT_EQ(drained + engine.counters.get(Counter::dropped), made);
  // Every read of an identity never named was given up, none attributed.
  EXPECT_EQ(engine.counters.get(Counter::pending_names), 0u);
}

// Names are made on one thread and die on another, as when a drain drops
// the last reference to a group's name while events intern new ones.
TEST(NameRefs, names_made_on_one_thread_and_dropped_on_another_return_every_byte) {
  EngineCore engine;
  std::vector<NameRef> made;
  for (int i = 0; i < 20000; ++i) {
    std::u16string path = u"c:\\t\\";
    for (char digit : std::to_string(i)) path += static_cast<char16_t>(digit);
    path.append(static_cast<std::size_t>(i % 300), u'x');
    made.push_back(intern_name(engine.names, engine.counters, path));
  }
  engine.names.name_table.clear();
  std::vector<NameRef> second_half(std::make_move_iterator(made.begin() + 10000),
                                   std::make_move_iterator(made.end()));
  made.resize(10000);
  std::thread dropper([&] { second_half.clear(); });
  for (int i = 0; i < 10000; ++i) {
    made[static_cast<std::size_t>(i)] = intern_name(engine.names, engine.counters, u"c:\\again\\" + std::u16string(i % 200, u'y'));
  }
  dropper.join();
  made.clear();
  engine.names.name_table.clear();
  EXPECT_EQ(engine.names.budget->bytes.load(), 0u);
  EXPECT_LE(engine.names.budget->blocks.kept_bytes(), NameBlocks::kept_limit);
}

}  // namespace
}  // namespace mirrow
