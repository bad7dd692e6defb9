// vt_stats, vt_diagnostics and vt_drain on one thread while vt_start or
// vt_stop runs on another: the scripted tracing holds the start (or stop)
// inside one of its system calls, and every report must come back before it
// is released, with the figures of one consistent state.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <future>
#include <string>

#include "engine/api/engine_win.h"
#include "tests/engine/capture/scripted_trace_calls_win.h"
#include "support/temp_dir_win.h"
#include "vantrel.h"

namespace mirrow {
namespace {

using testing::TraceScript;
using testing::trace_script;

constexpr auto prompt_time = std::chrono::seconds(5);

class HostCallsDuringLifecycle : public ::testing::Test {
 protected:
  void SetUp() override {
    trace_script().reset();
    handle = vt_create();
    ASSERT_NE(handle, nullptr);
    reinterpret_cast<Engine*>(handle)->capture.calls = &TraceScript::calls();
  }
  void TearDown() override {
    trace_script().release();
    vt_destroy(handle);
    EXPECT_TRUE(trace_script().every_started_session_stopped());
  }

  // Runs call on another thread; true when it came back within the prompt
  // time. A call that does not is let go by releasing the held one.
  template <typename Call>
  bool returns_promptly(Call call) {
    auto done = std::async(std::launch::async, call);
    const bool prompt = done.wait_for(prompt_time) == std::future_status::ready;
    if (!prompt) trace_script().release();
    done.get();
    return prompt;
  }

  struct Reports {
    std::uint32_t stats_status = 99;
    std::uint64_t stats[13] = {};
    std::string diagnostics;
    std::string drained;
    bool diagnostics_failed = true;
  };

  // The three host calls, each on a thread of its own.
  Reports reports_promptly() {
    Reports r;
    EXPECT_TRUE(returns_promptly([&] { r.stats_status = vt_stats(handle, r.stats, 13); })) << "vt_stats waited";
    EXPECT_TRUE(returns_promptly([&] {
      std::uint64_t length = 0;
      const char* text = vt_diagnostics(handle, &length);
      r.diagnostics_failed = text == nullptr;
      if (text != nullptr) r.diagnostics.assign(text, length);
    })) << "vt_diagnostics waited";
    EXPECT_TRUE(returns_promptly([&] {
      std::uint64_t length = 0;
      const char* text = vt_drain(handle, &length);
      if (text != nullptr) r.drained.assign(text, length);
    })) << "vt_drain waited";
    return r;
  }

  vt_engine* handle = nullptr;
};

bool ends_with(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST_F(HostCallsDuringLifecycle, reports_answer_while_a_start_waits_in_its_names_session) {
  testing::TempDir watched;
  ASSERT_EQ(vt_root(handle, 1, watched.path().c_str(), 0), 0u);
  ASSERT_EQ(vt_test_emit(handle, (watched / L"a.txt").c_str(), 2, 42, 1764979200.0), 0u);
  trace_script().hold("start names");
  auto start = std::async(std::launch::async, [&] { return vt_start(handle, 1, 0); });
  ASSERT_TRUE(trace_script().wait_until_held(5000));

  const Reports r = reports_promptly();
  // Running with its watcher up and no capture yet: the state the start has
  // reached when its names session begins.
  EXPECT_EQ(r.stats_status, 0u);
  EXPECT_EQ(r.stats[0], 0u);  // events
  EXPECT_EQ(r.stats[8], 0u);  // capture not live yet
  EXPECT_EQ(r.stats[9], 1u);  // running, its watcher active
  EXPECT_EQ(r.stats[11], 0u);
  EXPECT_EQ(r.stats[12], 0u);
  ASSERT_FALSE(r.diagnostics_failed);
  EXPECT_NE(r.diagnostics.find("\"system_names_enabled\":false"), std::string::npos) << r.diagnostics;
  EXPECT_NE(r.diagnostics.find("\"queued_groups\":1,"), std::string::npos) << r.diagnostics;
  EXPECT_TRUE(ends_with(r.diagnostics, "\"unknown_samples\":[]}")) << r.diagnostics;
  EXPECT_NE(r.drained.find("a.txt\",2,42,\"\",1,"), std::string::npos) << r.drained;

  trace_script().release();
  EXPECT_EQ(start.get(), 0u);
  std::uint64_t stats[13] = {};
  ASSERT_EQ(vt_stats(handle, stats, 13), 0u);
  EXPECT_EQ(stats[9], 1u);
  vt_stop(handle);
}

TEST_F(HostCallsDuringLifecycle, reports_answer_while_a_stop_waits_to_close_the_capture_consumer) {
  testing::TempDir watched;
  ASSERT_EQ(vt_root(handle, 1, watched.path().c_str(), 0), 0u);
  trace_script().capture.events_lost = 7;
  trace_script().capture.log_buffers_lost = 2;
  trace_script().capture.real_time_buffers_lost = 3;
  ASSERT_EQ(vt_start(handle, 1, 0), 0u);
  trace_script().hold("close capture");
  auto stop = std::async(std::launch::async, [&] { vt_stop(handle); });
  ASSERT_TRUE(trace_script().wait_until_held(5000));

  const Reports r = reports_promptly();
  // The session is stopped and its losses are read; the engine is on its
  // way down, so it no longer counts as healthy.
  EXPECT_EQ(r.stats_status, 0u);
  EXPECT_EQ(r.stats[9], 0u);
  EXPECT_EQ(r.stats[11], 7u);
  EXPECT_EQ(r.stats[12], 5u);
  ASSERT_FALSE(r.diagnostics_failed);
  EXPECT_TRUE(ends_with(r.diagnostics, "]}")) << r.diagnostics;
  EXPECT_EQ(r.drained, "[]");

  trace_script().release();
  stop.get();
  std::uint64_t stats[13] = {};
  ASSERT_EQ(vt_stats(handle, stats, 13), 0u);
  EXPECT_EQ(stats[9], 0u);
  EXPECT_EQ(stats[11], 7u);
}

TEST_F(HostCallsDuringLifecycle, reports_answer_while_the_capture_session_is_starting) {
  trace_script().names.start_status = ERROR_ACCESS_DENIED;
  trace_script().capture.start_status = ERROR_ACCESS_DENIED;
  trace_script().hold("start capture");
  auto start = std::async(std::launch::async, [&] { return vt_start(handle, 1, 0); });
  ASSERT_TRUE(trace_script().wait_until_held(5000));
  const Reports during = reports_promptly();
  EXPECT_EQ(during.stats_status, 0u);
  EXPECT_EQ(during.stats[9], 1u);  // running without watchers, capture still starting
  trace_script().release();
  EXPECT_EQ(start.get(), static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
  vt_stop(handle);
  std::uint64_t stats[13] = {};
  ASSERT_EQ(vt_stats(handle, stats, 13), 0u);
  EXPECT_EQ(stats[9], 0u);
}

}  // namespace
}  // namespace mirrow
