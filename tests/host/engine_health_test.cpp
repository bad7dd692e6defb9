#include "host/engine_health.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace mirrow::host {
namespace {

using ::testing::HasSubstr;

Statistics counting_up() {
  Statistics values{};
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = i * 1000;
  return values;
}

TEST(EngineHealth, statistics_name_each_slot_with_flags_as_yes_or_no) {
  const std::string text = statistics_text(counting_up());
  EXPECT_THAT(text, HasSubstr("events                     0\n"));
  EXPECT_THAT(text, HasSubstr("watch_notifications    7,000\n"));
  EXPECT_THAT(text, HasSubstr("capture_live             yes\n"));
  EXPECT_THAT(text, HasSubstr("buffers_lost          12,000\n"));
}

TEST(EngineHealth, statistics_as_json_keep_the_slot_order_and_plain_numbers) {
  Statistics values{};
  values[9] = 1;
  EXPECT_EQ(statistics_json(values),
            R"({"events":0,"errors":0,"unattributed":0,"key_derived_bindings":0,"own_io":0,"dropped":0,)"
            R"("watch_losses":0,"watch_notifications":0,"capture_live":0,"watchers_healthy":1,"probe_seen":0,)"
            R"("events_lost":0,"buffers_lost":0})");
}

TEST(EngineHealth, diagnostics_show_each_member_and_count_unknown_samples_by_reason) {
  const std::string text = diagnostics_text(
      R"({"io_total":12,"system_names_enabled":false,"queue_age":0.25,"etw_cpu_seconds":2.384185791015625e-07,"unknown_samples":[)"
      R"({"pid":1,"kind":1,"count":1,"timestamp":1,"has_object":true,"has_key":false,"reason":"no_identity"},)"
      R"({"pid":1,"kind":2,"count":1,"timestamp":1,"has_object":true,"has_key":false,"reason":"no_identity"}]})");
  EXPECT_THAT(text, HasSubstr("io_total                 12\n"));
  EXPECT_THAT(text, HasSubstr("system_names_enabled     no\n"));
  EXPECT_THAT(text, HasSubstr("queue_age             0.250\n"));
  EXPECT_THAT(text, HasSubstr("etw_cpu_seconds       0.000\n"));
  EXPECT_THAT(text, HasSubstr("unknown_samples           2\n"));
  EXPECT_THAT(text, HasSubstr("  no_identity: 2\n"));
}

TEST(EngineHealth, an_unreadable_diagnostics_document_is_shown_as_it_came) {
  EXPECT_EQ(diagnostics_text("{broken"), "diagnostics: {broken\n");
}

}  // namespace
}  // namespace mirrow::host
