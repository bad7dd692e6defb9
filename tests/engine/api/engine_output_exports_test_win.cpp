// Drain, statistics, diagnostics and vt_test_emit through the exports,
// bound by name as a host binds them.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "support/temp_dir_win.h"
#include "support/vantrel_api.h"

namespace mirrow::testing {
namespace {


std::string drain(vt_engine* engine) {
  uint64_t length = 12345;
  const char* text = vantrel().vt_drain(engine, &length);
  if (text == nullptr) return "<null>";
  EXPECT_EQ(length, std::char_traits<char>::length(text));
  return std::string(text, length);
}

std::string diagnostics(vt_engine* engine) {
  uint64_t length = 12345;
  const char* text = vantrel().vt_diagnostics(engine, &length);
  if (text == nullptr) return "<null>";
  EXPECT_EQ(length, std::char_traits<char>::length(text));
  return std::string(text, length);
}

std::array<uint64_t, 13> stats(vt_engine* engine) {
  std::array<uint64_t, 13> out{};
  EXPECT_EQ(vantrel().vt_stats(engine, out.data(), out.size()), 0u);
  return out;
}

TEST(OutputExports, emitted_records_reach_the_drain_text) {
  Engine engine;
  ASSERT_EQ(vantrel().vt_root(engine, 3, L"C:\\Data", 0), 0u);
  EXPECT_EQ(drain(engine), "[]");
  EXPECT_EQ(vantrel().vt_test_emit(engine, L"C:\\Data\\Report.txt", 2, 4242, 1764979200.5), 0u);
  EXPECT_EQ(vantrel().vt_test_emit(engine, L"c:\\data\\report.txt", 2, 4242, 1764979203.25), 0u);
  EXPECT_EQ(vantrel().vt_test_emit(engine, L"c:\\data\\caf\u00e9", 10, 0, 1764979201.0), 0u);
  EXPECT_EQ(vantrel().vt_test_emit(engine, L"c:\\elsewhere\\x", 1, 7, 1764979201.0), 0u);
  EXPECT_EQ(drain(engine), R"([[1764979201,3,"c:\\data\\caf\u00e9",10,0,"",1,1764979201],)"
                           R"([1764979200.5,3,"c:\\data\\report.txt",2,4242,"",2,1764979203.25]])");
  EXPECT_EQ(drain(engine), "[]");
}

TEST(OutputExports, emit_refuses_bad_kinds_a_null_path_and_a_running_engine) {
  Engine engine;
  EXPECT_EQ(vantrel().vt_test_emit(engine, L"c:\\x", 0, 1, 1.0), 87u);
  EXPECT_EQ(vantrel().vt_test_emit(engine, L"c:\\x", 11, 1, 1.0), 87u);
  EXPECT_EQ(vantrel().vt_test_emit(engine, nullptr, 1, 1, 1.0), 87u);
  EXPECT_EQ(vantrel().vt_test_emit(engine, L"c:\\x", 10, 1, 1.0), 0u);

  ASSERT_EQ(vantrel().vt_start(engine, 0, 0), 0u);  // no roots, no capture: running, nothing watched
  EXPECT_EQ(vantrel().vt_test_emit(engine, L"c:\\x", 1, 1, 1.0), 87u);
  vantrel().vt_stop(engine);
  EXPECT_EQ(vantrel().vt_test_emit(engine, L"c:\\x", 1, 1, 1.0), 0u);
}

TEST(OutputExports, stats_need_thirteen_slots_and_write_exactly_thirteen) {
  Engine engine;
  std::array<uint64_t, 20> out;
  out.fill(99);
  EXPECT_EQ(vantrel().vt_stats(engine, out.data(), 12), 87u);
  EXPECT_EQ(out[0], 99u);
  EXPECT_EQ(vantrel().vt_stats(engine, nullptr, 13), 87u);
  EXPECT_EQ(vantrel().vt_stats(engine, out.data(), 20), 0u);
  for (std::size_t i = 0; i < 13; ++i) EXPECT_EQ(out[i], 0u) << i;
  for (std::size_t i = 13; i < 20; ++i) EXPECT_EQ(out[i], 99u) << i;
}

TEST(OutputExports, outputs_answer_while_running_and_report_health_and_the_probe) {
  Engine engine;
  ASSERT_EQ(vantrel().vt_root(engine, 1, L"c:\\data", 0), 0u);
  vantrel().vt_probe(engine, L"C:\\Probe.txt");
  ASSERT_EQ(vantrel().vt_test_emit(engine, L"c:\\probe.txt", 1, 5, 1.0), 0u);
  EXPECT_EQ(stats(engine)[10], 1u);
  vantrel().vt_probe(engine, L"C:\\Probe.txt");
  EXPECT_EQ(stats(engine)[10], 0u);

  Engine running;
  ASSERT_EQ(vantrel().vt_start(running, 0, 0), 0u);
  const auto values = stats(running);
  EXPECT_EQ(values[8], 0u);  // no capture
  EXPECT_EQ(values[9], 1u);  // running without watchers is healthy
  EXPECT_EQ(drain(running), "[]");
  EXPECT_NE(diagnostics(running).find("\"queued_groups\":0,"), std::string::npos);
  vantrel().vt_stop(running);
  EXPECT_EQ(stats(running)[9], 0u);
}

TEST(OutputExports, a_running_engine_with_a_live_watcher_is_healthy_and_reports_its_cpu_time) {
  TempDir dir;
  Engine engine;
  ASSERT_EQ(vantrel().vt_root(engine, 1, dir.path().c_str(), 0), 0u);
  ASSERT_EQ(vantrel().vt_start(engine, 0, 0), 0u);
  EXPECT_EQ(stats(engine)[9], 1u);
  const std::string doc = diagnostics(engine);
  const std::size_t at = doc.find("\"watch_cpu_seconds\":");
  ASSERT_NE(at, std::string::npos);
  EXPECT_GE(std::stod(doc.substr(at + 20)), 0.0);
  vantrel().vt_stop(engine);
  EXPECT_EQ(stats(engine)[9], 0u);
}

TEST(OutputExports, diagnostics_of_a_fresh_engine_hold_zeros_and_end_with_the_sample_list) {
  Engine engine;
  const std::string doc = diagnostics(engine);
  const std::string head =
      R"({"io_total":0,"initial_missing":0,"late_recovered":0,"no_identity":0,"name_not_seen":0,)"
      R"("pending_limit":0,"pending_names":0,"mapping_evictions":0,"unsupported":0,"malformed":0,)"
      R"("newer_binding":0,"name_bytes":0,"own_reads":0,"own_writes":0,"manifest_names":0,)"
      R"("classic_names":0,"helper_events":0,"system_names_enabled":false,"system_names_error":0,)"
      R"("capture_state_error":0,"startup_name_losses":0,"startup_name_seconds":0,"queued_groups":0,"queue_age":)";
  const std::string tail = R"(,"etw_cpu_seconds":0,"watch_cpu_seconds":0,"unknown_samples":[]})";
  ASSERT_GT(doc.size(), head.size() + tail.size());
  EXPECT_EQ(doc.substr(0, head.size()), head);
  EXPECT_EQ(doc.substr(doc.size() - tail.size()), tail);
  EXPECT_LT(std::stod(doc.substr(head.size())), 0.01);
}

TEST(OutputExports, names_held_by_waiting_groups_are_counted_until_drained) {
  Engine engine;
  ASSERT_EQ(vantrel().vt_root(engine, 1, L"c:\\data", 0), 0u);
  ASSERT_EQ(vantrel().vt_test_emit(engine, L"c:\\data\\a", 1, 5, 1.0), 0u);
  EXPECT_NE(diagnostics(engine).find("\"name_bytes\":82,"), std::string::npos);
  EXPECT_NE(diagnostics(engine).find("\"queued_groups\":1,"), std::string::npos);
  drain(engine);
  EXPECT_NE(diagnostics(engine).find("\"queued_groups\":0,"), std::string::npos);
}

}  // namespace
}  // namespace mirrow::testing
