#include "engine/api/reports.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "engine/activity/activity_test_support.h"
#include "common/clock.h"

namespace mirrow {
namespace {

using namespace testing_support;

TEST(StatisticsValues, a_fresh_engine_reports_thirteen_zeros) {
  EngineCore engine;
  const StatisticsValues values = statistics_values(engine, LiveFigures{});
  for (std::uint64_t v : values) EXPECT_EQ(v, 0u);
}

TEST(StatisticsValues, slots_follow_the_first_eight_counters_then_flags_then_losses) {
  EngineCore engine;
  for (std::size_t i = 0; i < 8; ++i) engine.counters.store(static_cast<Counter>(i), 100 + i);
  engine.counters.store(Counter::initial_missing, 99);  // not reported here
  engine.probe.probe_seen = true;
  engine.startup.events_lost = 5;
  engine.startup.buffers_lost = 6;
  LiveFigures live;
  live.capture_live = true;
  const StatisticsValues values = statistics_values(engine, live);
  const StatisticsValues expected{100, 101, 102, 103, 104, 105, 106, 107, 1, 0, 1, 5, 6};
  EXPECT_EQ(values, expected);
}

TEST(StatisticsValues, live_session_losses_replace_the_figures_of_the_last_stop) {
  EngineCore engine;
  engine.startup.events_lost = 5;
  engine.startup.buffers_lost = 6;
  LiveFigures live;
  live.watchers_healthy = true;
  live.live_losses_known = true;
  live.events_lost = 40;
  live.buffers_lost = 41;
  const StatisticsValues values = statistics_values(engine, live);
  EXPECT_EQ(values[9], 1u);
  EXPECT_EQ(values[11], 40u);
  EXPECT_EQ(values[12], 41u);
}

TEST(StatisticsValues, a_failed_live_query_fails_the_report) {
  EngineCore engine;
  LiveFigures live;
  live.live_query_failed = true;
  try {
    statistics_values(engine, live);
    FAIL() << "expected a failure";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "ControlTrace query failed");
  }
}

// Splits the document around the queue age, which depends on the clock.
struct SplitDocument {
  std::string before_age;
  double age = -1;
  std::string after_age;
};

SplitDocument split_at_queue_age(const std::string& doc) {
  const std::string key = "\"queue_age\":";
  const std::size_t at = doc.find(key);
  const std::size_t end = doc.find(',', at);
  if (at == std::string::npos || end == std::string::npos) return {};
  return {doc.substr(0, at), std::stod(doc.substr(at + key.size(), end - at - key.size())), doc.substr(end)};
}

TEST(DiagnosticsDocument, a_fresh_engine_reports_zeros_in_the_fixed_member_order) {
  EngineCore engine;
  const SplitDocument doc = split_at_queue_age(diagnostics_document(engine, LiveFigures{}));
  EXPECT_EQ(doc.before_age,
            R"({"io_total":0,"initial_missing":0,"late_recovered":0,"no_identity":0,"name_not_seen":0,)"
            R"("pending_limit":0,"pending_names":0,"mapping_evictions":0,"unsupported":0,"malformed":0,)"
            R"("newer_binding":0,"name_bytes":0,"own_reads":0,"own_writes":0,"manifest_names":0,)"
            R"("classic_names":0,"helper_events":0,"system_names_enabled":false,"system_names_error":0,)"
            R"("capture_state_error":0,"startup_name_losses":0,"startup_name_seconds":0,"queued_groups":0,)");
  EXPECT_GE(doc.age, 0.0);
  EXPECT_LT(doc.age, 0.01);
  EXPECT_EQ(doc.after_age, R"(,"etw_cpu_seconds":0,"watch_cpu_seconds":0,"unknown_samples":[]})");
}

TEST(DiagnosticsDocument, each_member_shows_its_own_source) {
  EngineCore engine;
  const Counter order[] = {Counter::io_total,       Counter::initial_missing,   Counter::late_recovered,
                           Counter::no_identity,    Counter::name_not_seen,     Counter::pending_limit,
                           Counter::mapping_evictions, Counter::unsupported,
                           Counter::malformed,      Counter::newer_binding,     Counter::own_reads,
                           Counter::own_writes,     Counter::manifest_names,    Counter::classic_names,
                           Counter::helper_events};
  std::uint64_t value = 1;
  for (Counter c : order) engine.counters.store(c, value++);
  engine.counters.store(Counter::pending_names, 99);  // a gauge: the expiry pass sets it anew
  const NameRef held = intern_name(engine.names, engine.counters, u"c:\\abc");
  engine.startup = {4294967295u, 1450, true, 12, 0.25, 0, 0};
  LiveFigures live;
  live.etw_cpu_seconds = 1.5;
  live.watch_cpu_seconds = 0.03125;
  const SplitDocument doc = split_at_queue_age(diagnostics_document(engine, live));
  EXPECT_EQ(doc.before_age,
            R"({"io_total":1,"initial_missing":2,"late_recovered":3,"no_identity":4,"name_not_seen":5,)"
            R"("pending_limit":6,"pending_names":0,"mapping_evictions":7,"unsupported":8,"malformed":9,)"
            R"("newer_binding":10,"name_bytes":76,"own_reads":11,"own_writes":12,"manifest_names":13,)"
            R"("classic_names":14,"helper_events":15,"system_names_enabled":true,)"
            R"("system_names_error":4294967295,"capture_state_error":1450,"startup_name_losses":12,)"
            R"("startup_name_seconds":0.25,"queued_groups":0,)");
  EXPECT_EQ(doc.after_age, R"(,"etw_cpu_seconds":1.5,"watch_cpu_seconds":0.03125,"unknown_samples":[]})");
}

TEST(DiagnosticsDocument, queue_counts_open_and_ready_groups_and_ages_from_the_oldest) {
  auto engine = engine_with_data_root();
  record(*engine, u"c:\\data\\old", 1, 10, now_unix_seconds() - 30.0);
  SplitDocument doc = split_at_queue_age(diagnostics_document(*engine, LiveFigures{}));
  EXPECT_NE(doc.before_age.find("\"queued_groups\":1,"), std::string::npos);
  EXPECT_NEAR(doc.age, 30.0, 1.0);

  for (std::size_t i = 0; i < 1030; ++i) {
    record(*engine, u"c:\\data\\n" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)), 1,
           static_cast<std::uint32_t>(1000 + i), now_unix_seconds() - 100.0);
  }
  drain(*engine);  // 1024 out; seven wait in the ready queue
  record(*engine, u"c:\\data\\fresh", 1, 10, now_unix_seconds());
  doc = split_at_queue_age(diagnostics_document(*engine, LiveFigures{}));
  EXPECT_NE(doc.before_age.find("\"queued_groups\":8,"), std::string::npos);
  EXPECT_NEAR(doc.age, 100.0, 1.0);
}

UnknownSample sample(std::uint32_t pid, std::uint64_t object, std::uint64_t key, std::string_view reason) {
  UnknownSample s;
  s.process_id = pid;
  s.kind = 2;
  s.count = 3;
  s.first = 1.0;
  s.last = 1764979203.25;
  s.file_object = object;
  s.file_key = key;
  s.reason = reason;
  return s;
}

TEST(DiagnosticsDocument, unknown_samples_are_listed_oldest_first_with_their_reason) {
  EngineCore engine;
  engine.bindings.unknown_samples.push(sample(4, 0, 0, "no_identity"));
  engine.bindings.unknown_samples.push(sample(5, 0x10, 0, "name_not_seen"));
  const std::string doc = diagnostics_document(engine, LiveFigures{});
  const std::string expected_tail =
      R"("unknown_samples":[{"pid":4,"kind":2,"count":3,"timestamp":1764979203.25,"has_object":false,)"
      R"("has_key":false,"reason":"no_identity"},{"pid":5,"kind":2,"count":3,"timestamp":1764979203.25,)"
      R"("has_object":true,"has_key":false,"reason":"name_not_seen"}]})";
  ASSERT_GE(doc.size(), expected_tail.size());
  EXPECT_EQ(doc.substr(doc.size() - expected_tail.size()), expected_tail);
}

}  // namespace
}  // namespace mirrow
