// One engine under every kind of caller at once, through the exports as a
// host binds them: two real directory watchers on sibling temp roots while a
// writer thread creates, writes and deletes files in them, a thread that
// starts and stops the engine, a thread replaying kernel file events (taken
// only while stopped), and four host threads draining, reading the reports
// and changing the probe and the missing paths. A watchdog fails the run
// instead of letting a deadlock hang it. At the end every activity made is
// either drained or counted as dropped.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/drain_tally.h"
#include "support/event_payloads.h"
#include "support/temp_dir_win.h"
#include "support/vantrel_api.h"

namespace mirrow::testing {
namespace {

using mirrow::test::Bytes;
namespace payload = mirrow::test;

constexpr DWORD stress_ms = 6000;
constexpr DWORD watchdog_ms = 60000;
constexpr uint32_t replay_pid = 700;
constexpr double t0 = 1764979200.0;

// Event ids of the kernel file provider.
constexpr uint16_t name_create = 10;
constexpr uint16_t read_event = 15;
constexpr uint16_t delete_path = 26;

std::u16string u16(const std::wstring& s) { return std::u16string(s.begin(), s.end()); }

// Ends the process, failing the test, when the run has not finished in time:
// a deadlocked export would otherwise hang the test until ctest kills it.
class Watchdog {
 public:
  explicit Watchdog(std::function<void()> report) : report_(std::move(report)) {
    thread_ = std::thread([this] {
      if (WaitForSingleObject(done_, watchdog_ms) == WAIT_OBJECT_0) return;
      std::fprintf(stderr, "watchdog: the stress run did not finish within %lu ms; threads stuck:\n",
                   static_cast<unsigned long>(watchdog_ms));
      report_();
      std::fflush(stderr);
      std::fflush(stdout);
      TerminateProcess(GetCurrentProcess(), 3);
    });
  }
  ~Watchdog() {
    SetEvent(done_);
    thread_.join();
    CloseHandle(done_);
  }

 private:
  HANDLE done_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::function<void()> report_;
  std::thread thread_;
};

// Operation counts of one kind of thread; the watchdog prints them, so that
// a thread whose count stands still is the one that hangs.
struct Progress {
  const char* name;
  std::atomic<uint64_t> operations{0};
  std::atomic<bool> finished{false};
};

class ConcurrencyStress : public ::testing::Test {
 protected:
  ConcurrencyStress() {
    CreateDirectoryW((base / L"a").c_str(), nullptr);
    CreateDirectoryW((base / L"b").c_str(), nullptr);
    roots[0] = base / L"a";
    roots[1] = base / L"b";
  }

  bool time_left() const { return GetTickCount64() < deadline; }

  // Files come and go in both roots: each is created, written twice and
  // deleted a few files later.
  void writer(Progress& p) {
    std::deque<std::wstring> live;
    for (unsigned n = 0; time_left(); ++n) {
      const std::wstring path = roots[n % 2] + L"\\f" + std::to_wstring(n) + L".txt";
      HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, "stress", 6, &written, nullptr);
        FlushFileBuffers(file);
        WriteFile(file, "more", 4, &written, nullptr);
        CloseHandle(file);
        live.push_back(path);
        p.operations += 3;
      }
      if (live.size() > 8) {
        if (DeleteFileW(live.front().c_str())) ++p.operations;
        live.pop_front();
      }
    }
  }

  // vt_start and vt_stop in turn; every third start asks for capture, which
  // Wine refuses (5) while the watchers keep running. Where capture really
  // starts, it also records the system's own file activity, so the exact
  // books below cannot be kept.
  void lifecycle(Progress& p) {
    for (int cycle = 0; cycle < 3 || time_left(); ++cycle) {
      const bool capture = cycle % 3 == 2;
      const uint32_t status = vantrel().vt_start(engine, capture ? 1 : 0, cycle % 2);
      if (capture && status == 0) capture_ran = true;
      if (status != 0 && !(capture && status == 5)) {
        ++unexpected_start_status;
        last_unexpected_status = status;
      }
      ++p.operations;
      Sleep(40);
      vantrel().vt_stop(engine);
      Sleep(10);
      vantrel().vt_stop(engine);  // harmless while stopped, beside the replays
      p.operations += 2;
      ++cycles;
      Sleep(10);
    }
  }

  uint32_t replay(uint16_t id, uint8_t version, const Bytes& bytes, double t) {
    return vantrel().vt_replay(engine, id, version, 8, replay_pid, t, bytes.data(), bytes.size());
  }
  uint32_t replay_many(uint16_t id, uint8_t version, const Bytes& bytes, double t, uint32_t repeat) {
    return vantrel().vt_replay_many(engine, id, version, 8, replay_pid, t, bytes.data(), bytes.size(), repeat);
  }

  // Names, reads of named and never-named files and deletes, plus test
  // emits; all are refused (87) while the engine runs. Every accepted read
  // of a named file, delete and emit makes exactly one activity; a read of a
  // file never named makes none. Now and then a burst of deletes in distinct
  // five-second windows fills the group table towards its cap.
  void replayer(Progress& p) {
    const std::u16string a = u16(roots[0]), b = u16(roots[1]);
    const std::wstring emitted = roots[0] + L"\\emitted.txt";
    bool named[8] = {};
    for (uint64_t i = 0; time_left(); ++i) {
      const uint64_t accepted_before = replayed_events.load();
      const uint64_t key = 0xA000 + i % 8;
      const std::u16string suffix(1, static_cast<char16_t>(u'a' + i % 8));
      const Bytes name = payload::name_event(8, key, a + u"\\named-" + suffix + u".txt");
      const Bytes read = payload::io_event(8, 1, 0xB000 + i % 8, key);
      const Bytes unknown = payload::io_event(8, 1, 0xDEAD0000 + i, 0xBEEF0000 + i);
      const Bytes gone = payload::path_event(8, 1, b + u"\\gone-" + suffix + u".txt");
      if (replay(name_create, 0, name, t0) == 0) {
        ++replayed_events;
        named[i % 8] = true;
      }
      // A read before its name was ever replayed would wait for it instead.
      if (named[i % 8] && replay_many(read_event, 1, read, t0 + 1, 50) == 0) {
        replayed_events += 50;
        replayed_records += 50;
      }
      if (i % 10 == 0 && replay(read_event, 1, unknown, t0 + 2) == 0) ++replayed_events;
      if (replay_many(delete_path, 1, gone, t0 + 5.0 * static_cast<double>(i % 1000), 20) == 0) {
        replayed_events += 20;
        replayed_records += 20;
      }
      if (vantrel().vt_test_emit(engine, emitted.c_str(), 2, replay_pid, t0 + 3) == 0) ++replayed_records;
      if (i % 200 == 199) overflow_burst(emitted);
      p.operations += 5;
      // Refused while running: no need to spin against the start.
      if (accepted_before == replayed_events.load()) Sleep(1);
    }
  }

  // With the drains held back, emits in distinct five-second windows fill
  // the group table past its cap, so that some activities are dropped while
  // everything else goes on.
  void overflow_burst(const std::wstring& path) {
    hold_drains = true;
    int k = 0;
    for (; k < 22000; ++k) {
      if (vantrel().vt_test_emit(engine, path.c_str(), 1, replay_pid, t0 + 5.0 * (1000 + k)) != 0) break;
      ++replayed_records;
    }
    hold_drains = false;
    if (k > 0) ++bursts;
  }

  // A host thread: every output and any-time export in turn. A drained or
  // diagnostics text lasts until the next call of that export on the
  // engine, so a host reading them from several threads copies each one
  // under its own lock.
  void host(int index, Progress& p) {
    const std::wstring missing = roots[index % 2] + L"\\missing-" + std::to_wstring(index) + L".txt";
    const std::wstring probe = roots[0] + L"\\named-a.txt";
    uint64_t last_events = 0;
    for (uint64_t i = 0; time_left(); ++i) {
      if (!hold_drains) {
        std::lock_guard hold(host_drain_lock);
        uint64_t length = 0;
        const char* text = vantrel().vt_drain(engine, &length);
        if (text == nullptr) {
          ++failed_drains;
        } else {
          const DrainTally t = tally_drain(std::string(text, length));
          if (!t.well_formed) {
            if (malformed_drains++ == 0) first_malformed = std::string(text, length).substr(0, 300);
          }
          add(t);
        }
      }
      uint64_t values[13] = {};
      if (vantrel().vt_stats(engine, values, 13) != 0) ++failed_stats;
      else if (values[0] < last_events) ++events_went_back;
      else last_events = values[0];
      {
        std::lock_guard hold(host_diagnostics_lock);
        uint64_t length = 0;
        const char* text = vantrel().vt_diagnostics(engine, &length);
        if (text == nullptr || !diagnostics_well_formed(std::string(text, length))) ++malformed_diagnostics;
      }
      vantrel().vt_probe(engine, i % 3 == 0 ? nullptr : probe.c_str());
      vantrel().vt_missing(engine, missing.c_str());
      if (i % 5 == 4) vantrel().vt_missing_clear(engine);
      p.operations += 6;
    }
  }

  // Under host_drain_lock.
  void add(const DrainTally& t) {
    drained += t.total;
    drained_records += t.records;
    for (const auto& [pid, count] : t.by_pid) (pid == 0 ? drained_watched : drained_other) += count;
    ++drains;
  }

  std::vector<uint64_t> stats() {
    std::vector<uint64_t> values(13, 0);
    EXPECT_EQ(vantrel().vt_stats(engine, values.data(), values.size()), 0u);
    return values;
  }

  TempDir base;
  std::wstring roots[2];
  Engine engine;
  ULONGLONG deadline = 0;
  std::mutex host_drain_lock, host_diagnostics_lock;

  std::atomic<uint64_t> replayed_events{0}, replayed_records{0}, bursts{0}, cycles{0};
  std::atomic<bool> hold_drains{false}, capture_ran{false};
  std::atomic<uint64_t> unexpected_start_status{0}, last_unexpected_status{0};
  std::atomic<uint64_t> failed_drains{0}, failed_stats{0}, malformed_drains{0}, malformed_diagnostics{0};
  std::atomic<uint64_t> events_went_back{0};
  std::string first_malformed;
  // Under host_drain_lock.
  uint64_t drained = 0, drained_records = 0, drained_watched = 0, drained_other = 0, drains = 0;
};

TEST_F(ConcurrencyStress, watchers_replays_restarts_and_host_calls_at_once_lose_nothing_and_never_hang) {
  ASSERT_EQ(vantrel().vt_root(engine, 1, roots[0].c_str(), 0), 0u);
  ASSERT_EQ(vantrel().vt_root(engine, 2, roots[1].c_str(), 0), 0u);

  Progress writing{"writer"}, cycling{"start/stop"}, replaying{"replay"};
  Progress hosts[4] = {{"host 1"}, {"host 2"}, {"host 3"}, {"host 4"}};
  std::vector<Progress*> all{&writing, &cycling, &replaying};
  for (Progress& h : hosts) all.push_back(&h);
  Watchdog watchdog([&] {
    for (const Progress* p : all) {
      std::fprintf(stderr, "  %s: %llu operations, %s\n", p->name, static_cast<unsigned long long>(p->operations),
                   p->finished ? "finished" : "still running");
    }
  });

  deadline = GetTickCount64() + stress_ms;
  auto run = [](Progress& p, auto&& body) {
    return std::thread([&p, body] {
      body();
      p.finished = true;
    });
  };
  std::vector<std::thread> threads;
  threads.push_back(run(writing, [&] { writer(writing); }));
  threads.push_back(run(cycling, [&] { lifecycle(cycling); }));
  threads.push_back(run(replaying, [&] { replayer(replaying); }));
  for (int i = 0; i < 4; ++i) threads.push_back(run(hosts[i], [&, i] { host(i, hosts[i]); }));
  for (std::thread& t : threads) t.join();

  // A stop while stopped is harmless and gives up what the last replays
  // left pending; then everything still queued is drained.
  vantrel().vt_stop(engine);
  for (int i = 0; i < 1000; ++i) {
    uint64_t length = 0;
    const char* text = vantrel().vt_drain(engine, &length);
    ASSERT_NE(text, nullptr);
    const DrainTally t = tally_drain(std::string(text, length));
    ASSERT_TRUE(t.well_formed) << std::string(text, length).substr(0, 300);
    if (t.records == 0) break;
    add(t);
  }

  const std::vector<uint64_t> s = stats();
  const uint64_t events = s[0], dropped = s[5], watch_losses = s[6], notifications = s[7];
  std::printf(
      "stress: %lu ms, writer %llu file operations, %llu start/stop cycles, %llu replay and emit calls (%llu "
      "overflow bursts), host calls %llu %llu %llu %llu\n",
      static_cast<unsigned long>(stress_ms), static_cast<unsigned long long>(writing.operations.load()),
      static_cast<unsigned long long>(cycles.load()),
      static_cast<unsigned long long>(replaying.operations.load()), static_cast<unsigned long long>(bursts.load()),
      static_cast<unsigned long long>(hosts[0].operations.load()),
      static_cast<unsigned long long>(hosts[1].operations.load()),
      static_cast<unsigned long long>(hosts[2].operations.load()),
      static_cast<unsigned long long>(hosts[3].operations.load()));
  std::printf(
      "stress: %llu drains, %llu records drained holding %llu activities (%llu watched, %llu replayed); "
      "%llu events replayed, %llu watcher notifications, %llu watch losses, %llu dropped\n",
      static_cast<unsigned long long>(drains), static_cast<unsigned long long>(drained_records),
      static_cast<unsigned long long>(drained), static_cast<unsigned long long>(drained_watched),
      static_cast<unsigned long long>(drained_other), static_cast<unsigned long long>(events),
      static_cast<unsigned long long>(notifications), static_cast<unsigned long long>(watch_losses),
      static_cast<unsigned long long>(dropped));

  EXPECT_EQ(s[8], 0u);  // stopped: capture not live
  EXPECT_EQ(s[9], 0u);  // stopped: watchers not healthy
  EXPECT_EQ(unexpected_start_status.load(), 0u) << "last: " << last_unexpected_status.load();
  EXPECT_EQ(failed_drains.load(), 0u);
  EXPECT_EQ(failed_stats.load(), 0u);
  EXPECT_EQ(malformed_drains.load(), 0u) << first_malformed;
  EXPECT_EQ(malformed_diagnostics.load(), 0u);
  EXPECT_EQ(events_went_back.load(), 0u);
  EXPECT_GE(cycles.load(), 3u);
  EXPECT_GT(replayed_events.load(), 0u);
  EXPECT_GT(notifications, 0u);
  if (capture_ran) return;  // the system's own activity is in the books too
  // Only replays decode here, one at a time, so every accepted event counts.
  EXPECT_EQ(events, replayed_events.load());
  // The books: each watcher notification of a file in a root and each
  // accepted replayed delete, read of a named file or emit made one
  // activity; each is drained or dropped.
  const uint64_t made = notifications + replayed_records.load();
  EXPECT_EQ(drained + dropped, made);
  if (dropped == 0) {
    EXPECT_EQ(drained_watched, notifications);
    EXPECT_EQ(drained_other, replayed_records.load());
  }
}

}  // namespace
}  // namespace mirrow::testing
