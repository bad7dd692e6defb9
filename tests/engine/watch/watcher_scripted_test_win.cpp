// The watcher thread against scripted directory-change results: overflows,
// failing requests and completions, rename halves across cycles, malformed
// buffers and the stop sequence ending the thread.
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <mutex>
#include <variant>

#include "engine/api/configuration.h"
#include "engine/api/engine_win.h"
#include "engine/api/live_figures_win.h"
#include "engine/watch/watcher_win.h"
#include "support/change_records.h"

namespace mirrow {
namespace {

using testing::change_records;

// One scripted completion: data, a failed completion, or a failed request.
struct Completion {
  std::vector<std::uint8_t> bytes;
  DWORD completion_error = 0;
  DWORD request_error = 0;
};

struct WatchScript {
  std::mutex lock;
  std::deque<Completion> completions;
  Completion current;
  int requests = 0;

  static WatchScript& get() {
    static WatchScript script;
    return script;
  }

  static BOOL WINAPI read_changes(HANDLE, LPVOID buffer, DWORD length, BOOL subtree, DWORD filter, LPDWORD,
                                  LPOVERLAPPED overlapped, LPOVERLAPPED_COMPLETION_ROUTINE) {
    WatchScript& s = get();
    std::lock_guard<std::mutex> guard(s.lock);
    ++s.requests;
    if (length != 65536 || !subtree || filter != 0x5B) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    if (s.completions.empty()) return TRUE;  // stays pending until cancelled
    s.current = s.completions.front();
    s.completions.pop_front();
    if (s.current.request_error != 0) {
      SetLastError(s.current.request_error);
      return FALSE;
    }
    std::memcpy(buffer, s.current.bytes.data(), s.current.bytes.size());
    SetEvent(overlapped->hEvent);
    if (s.current.completion_error == ERROR_IO_PENDING) {
      SetLastError(ERROR_IO_PENDING);
      return FALSE;
    }
    return TRUE;
  }

  static BOOL WINAPI overlapped_result(HANDLE, LPOVERLAPPED, LPDWORD bytes, BOOL wait) {
    WatchScript& s = get();
    std::lock_guard<std::mutex> guard(s.lock);
    if (wait) {
      SetLastError(ERROR_OPERATION_ABORTED);
      return FALSE;
    }
    if (s.current.completion_error != 0 && s.current.completion_error != ERROR_IO_PENDING) {
      SetLastError(s.current.completion_error);
      return FALSE;
    }
    *bytes = static_cast<DWORD>(s.current.bytes.size());
    return TRUE;
  }

  static BOOL WINAPI cancel(HANDLE, LPOVERLAPPED) { return TRUE; }

  static const WatchCalls& calls() {
    static constexpr WatchCalls table{&read_changes, &overlapped_result, &cancel};
    return table;
  }
};

struct EngineDeleter {
  void operator()(Engine* e) const { destroy_engine(e); }
};

class ScriptedWatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WatchScript& s = WatchScript::get();
    s.completions.clear();
    s.current = {};
    s.requests = 0;
    engine.reset(create_engine());
    ASSERT_NE(engine, nullptr);
    add_root(*engine, 1, u"C:\\Data", false);
    prepare_roots_for_start(engine->root_set);
  }

  void script(std::vector<Completion> completions) {
    std::lock_guard<std::mutex> guard(WatchScript::get().lock);
    for (auto& c : completions) WatchScript::get().completions.push_back(std::move(c));
  }

  // Starts one watcher thread the way the start sequence does.
  Watcher& start_watcher() {
    auto watcher = std::make_unique<Watcher>();
    watcher->ready_event.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    watcher->path = u"c:\\data";
    watcher->active.store(true);
    Watcher& w = *watcher;
    engine->running.store(true);
    engine->watchers.push_back(std::move(watcher));
    w.thread = std::thread([this, &w] { watch_directory(w, engine->stop_event.get(), watch_output(*engine), WatchScript::calls()); });
    EXPECT_EQ(WaitForSingleObject(w.ready_event.get(), 5000), WAIT_OBJECT_0);
    return w;
  }

  // Waits until every scripted completion was taken and the next request is posted.
  void wait_until_idle(int expected_requests) {
    for (int i = 0; i < 500; ++i) {
      {
        std::lock_guard<std::mutex> guard(WatchScript::get().lock);
        if (WatchScript::get().completions.empty() && WatchScript::get().requests >= expected_requests) break;
      }
      Sleep(10);
    }
    Sleep(50);
  }

  std::uint64_t count(Counter c) const { return engine->counters.get(c); }

  std::size_t groups_of_kind(std::uint32_t kind) {
    std::lock_guard guard(engine->activity.activity_lock);
    std::size_t n = 0;
    for (const auto& [key, group] : engine->activity.groups) n += group.kind == kind ? 1 : 0;
    return n;
  }

  std::unique_ptr<Engine, EngineDeleter> engine;
};

TEST_F(ScriptedWatcherTest, records_each_returned_buffer_and_keeps_one_request_outstanding) {
  script({{change_records({{1, u"a.txt"}, {3, u"a.txt"}})}, {change_records({{2, u"a.txt"}})}});
  Watcher& watcher = start_watcher();
  wait_until_idle(3);
  EXPECT_EQ(groups_of_kind(7), 1u);
  EXPECT_EQ(groups_of_kind(8), 1u);
  EXPECT_EQ(groups_of_kind(9), 1u);
  EXPECT_EQ(count(Counter::watch_notifications), 3u);
  EXPECT_TRUE(watcher.active.load());
  EXPECT_EQ(statistics_values(*engine, gather_live_figures(*engine))[9], 1u);
  stop_sequence(*engine);
  EXPECT_FALSE(watcher.active.load());
  EXPECT_EQ(count(Counter::watch_losses), 0u);
}

TEST_F(ScriptedWatcherTest, an_overflow_loses_one_round_and_watching_goes_on) {
  script({{}, {{}, 1022}, {change_records({{1, u"after.txt"}})}});
  Watcher& watcher = start_watcher();
  wait_until_idle(4);
  EXPECT_EQ(count(Counter::watch_losses), 2u);
  EXPECT_EQ(groups_of_kind(7), 1u);
  EXPECT_TRUE(watcher.active.load());
  stop_sequence(*engine);
}

TEST_F(ScriptedWatcherTest, a_failed_completion_ends_the_thread_while_the_engine_keeps_running) {
  script({{{}, ERROR_ACCESS_DENIED}});
  Watcher& watcher = start_watcher();
  watcher.thread.join();
  EXPECT_FALSE(watcher.active.load());
  EXPECT_TRUE(engine->running.load());
  EXPECT_EQ(count(Counter::watch_losses), 1u);
  EXPECT_EQ(statistics_values(*engine, gather_live_figures(*engine))[9], 0u);
}

TEST_F(ScriptedWatcherTest, a_failed_first_request_reports_ready_with_the_watcher_inactive) {
  script({{{}, 0, ERROR_INVALID_FUNCTION}});
  Watcher& watcher = start_watcher();
  watcher.thread.join();
  EXPECT_FALSE(watcher.active.load());
  EXPECT_EQ(count(Counter::watch_losses), 1u);
}

TEST_F(ScriptedWatcherTest, a_request_answered_as_pending_is_not_a_failure) {
  script({{change_records({{1, u"a.txt"}}), ERROR_IO_PENDING}});
  Watcher& watcher = start_watcher();
  wait_until_idle(2);
  EXPECT_TRUE(watcher.active.load());
  EXPECT_EQ(groups_of_kind(7), 1u);
  stop_sequence(*engine);
}

TEST_F(ScriptedWatcherTest, pairs_rename_halves_returned_by_different_requests) {
  script({{change_records({{4, u"old.txt"}})}, {change_records({{5, u"new.txt"}})}});
  start_watcher();
  wait_until_idle(3);
  EXPECT_EQ(groups_of_kind(10), 1u);
  stop_sequence(*engine);
  EXPECT_EQ(count(Counter::watch_losses), 0u);
}

TEST_F(ScriptedWatcherTest, a_rename_half_pending_at_stop_is_counted_lost) {
  script({{change_records({{4, u"old.txt"}})}});
  start_watcher();
  wait_until_idle(2);
  const DWORD started = GetTickCount();
  stop_sequence(*engine);
  EXPECT_LT(GetTickCount() - started, 1000u);
  EXPECT_EQ(count(Counter::watch_losses), 1u);
  EXPECT_TRUE(engine->watchers.empty());
}

TEST_F(ScriptedWatcherTest, a_malformed_buffer_counts_an_error_and_the_next_one_is_handled) {
  auto bad = change_records({{1, u"a.txt"}});
  testing::put_u32(bad, 8, 0x7FFFFFF0);
  script({{bad}, {change_records({{1, u"b.txt"}})}});
  Watcher& watcher = start_watcher();
  wait_until_idle(3);
  EXPECT_EQ(count(Counter::errors), 1u);
  EXPECT_EQ(groups_of_kind(7), 1u);
  EXPECT_TRUE(watcher.active.load());
  stop_sequence(*engine);
}

}  // namespace
}  // namespace mirrow
