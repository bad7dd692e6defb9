// The engine frame through the exports, bound by name as a host binds them.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "support/temp_dir_win.h"
#include "support/vantrel_api.h"

namespace mirrow::testing {
namespace {

extern "C" int vantrel_header_is_c(void);


TEST(Frame, answers_its_interface_version_before_any_engine_exists) {
  EXPECT_EQ(vantrel().vt_abi(), 1u);
  EXPECT_EQ(vantrel_header_is_c(), 1);
}

TEST(Frame, destroying_null_does_nothing_and_stopping_a_stopped_engine_is_harmless) {
  vantrel().vt_destroy(nullptr);
  Engine engine;
  ASSERT_NE(engine.get(), nullptr);
  vantrel().vt_stop(engine);
  vantrel().vt_stop(engine);
  EXPECT_EQ(vantrel().vt_root(engine, 1, L"c:\\x", 0), 0u);
}

TEST(Frame, a_missing_root_fails_the_start_with_the_system_code_and_leaves_the_engine_stopped) {
  TempDir dir;
  Engine engine;
  ASSERT_EQ(vantrel().vt_root(engine, 1, (dir / L"no-such-dir").c_str(), 0), 0u);
  const uint32_t status = vantrel().vt_start(engine, 0, 0);
  EXPECT_TRUE(status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) << status;
  // Stopped again: configuration is accepted.
  EXPECT_EQ(vantrel().vt_root(engine, 2, dir.path().c_str(), 0), 0u);
}

TEST(Frame, a_running_engine_refuses_configuration_and_replay_and_a_second_start) {
  TempDir dir;
  Engine engine;
  ASSERT_EQ(vantrel().vt_root(engine, 1, dir.path().c_str(), 0), 0u);
  ASSERT_EQ(vantrel().vt_start(engine, 0, 0), 0u);

  EXPECT_EQ(vantrel().vt_start(engine, 0, 0), 183u);
  EXPECT_EQ(vantrel().vt_root(engine, 2, dir.path().c_str(), 0), 87u);
  EXPECT_EQ(vantrel().vt_exclude(engine, dir.path().c_str()), 87u);
  EXPECT_EQ(vantrel().vt_test_recovery(engine, 1), 87u);
  EXPECT_EQ(vantrel().vt_test_emit(engine, L"c:\\x", 1, 1, 1.0), 87u);
  const uint8_t byte = 0;
  EXPECT_EQ(vantrel().vt_replay(engine, 15, 1, 8, 1, 1.0, &byte, 1), 87u);
  EXPECT_EQ(vantrel().vt_replay_many(engine, 15, 1, 8, 1, 1.0, &byte, 1, 3), 87u);
  // Allowed while running.
  vantrel().vt_missing(engine, L"c:\\wait.txt");
  vantrel().vt_missing_clear(engine);
  vantrel().vt_probe(engine, L"c:\\probe.txt");

  vantrel().vt_stop(engine);
  EXPECT_EQ(vantrel().vt_root(engine, 2, dir.path().c_str(), 0), 0u);
  EXPECT_EQ(vantrel().vt_start(engine, 0, 0), 0u);
}

TEST(Frame, arguments_are_checked_where_the_host_may_get_them_wrong) {
  Engine engine;
  EXPECT_EQ(vantrel().vt_root(engine, 0, L"c:\\x", 0), 87u);
  EXPECT_EQ(vantrel().vt_root(engine, 1, nullptr, 0), 87u);
  EXPECT_EQ(vantrel().vt_exclude(engine, nullptr), 87u);
  uint64_t stats[13] = {};
  EXPECT_EQ(vantrel().vt_stats(engine, stats, 12), 87u);
  const uint8_t byte = 0;
  EXPECT_EQ(vantrel().vt_replay(engine, 15, 1, 8, 1, 1.0, nullptr, 0), 0u);
  EXPECT_EQ(vantrel().vt_replay(engine, 15, 1, 8, 1, 1.0, nullptr, 1), 87u);
  EXPECT_EQ(vantrel().vt_replay(engine, 15, 1, 8, 1, 1.0, &byte, 0), 0u);
}

TEST(Frame, null_missing_path_and_null_probe_never_crash) {
  Engine engine;
  uint64_t before[13] = {};
  ASSERT_EQ(vantrel().vt_stats(engine, before, 13), 0u);
  vantrel().vt_missing(engine, nullptr);
  vantrel().vt_probe(engine, nullptr);
  uint64_t after[13] = {};
  ASSERT_EQ(vantrel().vt_stats(engine, after, 13), 0u);
  EXPECT_EQ(after[1], before[1] + 1);  // only the null missing path is an error
}

TEST(Frame, statistics_and_diagnostics_may_be_read_while_another_thread_starts_and_stops) {
  TempDir dir;
  CreateDirectoryW((dir / L"a").c_str(), nullptr);
  CreateDirectoryW((dir / L"b").c_str(), nullptr);
  Engine engine;
  ASSERT_EQ(vantrel().vt_root(engine, 1, (dir / L"a").c_str(), 0), 0u);
  ASSERT_EQ(vantrel().vt_root(engine, 2, (dir / L"b").c_str(), 0), 0u);
  std::atomic<bool> done{false};
  std::thread reader([&] {
    uint64_t stats[13];
    uint64_t length = 0;
    while (!done) {
      EXPECT_EQ(vantrel().vt_stats(engine, stats, 13), 0u);
      EXPECT_NE(vantrel().vt_diagnostics(engine, &length), nullptr);
      vantrel().vt_drain(engine, &length);
    }
  });
  for (int cycle = 0; cycle < 40; ++cycle) {
    EXPECT_EQ(vantrel().vt_start(engine, 0, 0), 0u);
    vantrel().vt_stop(engine);
  }
  done = true;
  reader.join();
}

TEST(Frame, error_text_is_empty_and_private_to_each_thread) {
  EXPECT_STREQ(vantrel().vt_error(), "");
  std::string other;
  std::thread([&] { other = vantrel().vt_error(); }).join();
  EXPECT_EQ(other, "");
}

}  // namespace
}  // namespace mirrow::testing
