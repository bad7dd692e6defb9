#include "inspector/command_line_join.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

namespace mirrow::inspector {
namespace {

// 2024-01-01 09:00:00.5 UTC, the time "20240101120000.500000+180" names.
constexpr std::uint64_t started = 133485732005000000;
constexpr const char16_t* started_text = u"20240101120000.500000+180";

ProcessTable table_with(std::uint32_t pid, std::uint64_t creation_time) {
  ProcessTable table;
  ProcessFacts facts;
  facts.pid = pid;
  facts.creation_time = creation_time;
  table[pid] = facts;
  return table;
}

WmiRow row(std::uint32_t pid, std::optional<std::u16string> cli, std::optional<std::u16string> date) {
  return WmiRow{pid, std::move(cli), std::move(date)};
}

bool alive(std::uint32_t, std::uint64_t) { return true; }
bool gone(std::uint32_t, std::uint64_t) { return false; }

TEST(JoinWmiRow, a_row_with_the_entry_s_id_and_creation_time_fills_the_command_line) {
  ProcessTable table = table_with(42, started);
  EXPECT_TRUE(join_wmi_row(table, row(42, u"tool.exe --flag \"x y\"", started_text), alive));
  EXPECT_EQ(table[42].command_line, u"tool.exe --flag \"x y\"");
}

TEST(JoinWmiRow, creation_times_less_than_a_microsecond_apart_in_either_direction_match) {
  ProcessTable earlier = table_with(42, started - 9);
  ProcessTable later = table_with(42, started + 9);
  ProcessTable too_far = table_with(42, started + 10);
  EXPECT_TRUE(join_wmi_row(earlier, row(42, u"a", started_text), alive));
  EXPECT_TRUE(join_wmi_row(later, row(42, u"a", started_text), alive));
  EXPECT_FALSE(join_wmi_row(too_far, row(42, u"a", started_text), alive));
  EXPECT_EQ(too_far[42].command_line, u"");
}

TEST(JoinWmiRow, a_row_for_a_process_not_in_the_table_is_ignored) {
  ProcessTable table = table_with(42, started);
  EXPECT_FALSE(join_wmi_row(table, row(43, u"a", started_text), alive));
  EXPECT_FALSE(join_wmi_row(table, row(0xFFFFFFFFu, u"a", started_text), alive));
  EXPECT_EQ(table.size(), 1u);
}

TEST(JoinWmiRow, a_missing_command_line_or_an_unusable_creation_date_leaves_the_entry_empty) {
  ProcessTable table = table_with(42, started);
  EXPECT_FALSE(join_wmi_row(table, row(42, std::nullopt, started_text), alive));
  EXPECT_FALSE(join_wmi_row(table, row(42, u"a", std::nullopt), alive));
  EXPECT_FALSE(join_wmi_row(table, row(42, u"a", u"2024010112****.500000+180"), alive));
  EXPECT_EQ(table[42].command_line, u"");
}

TEST(JoinWmiRow, an_unknown_creation_time_in_the_table_never_matches) {
  ProcessTable table = table_with(42, 0);
  EXPECT_FALSE(join_wmi_row(table, row(42, u"a", u"16010101000000.000000+000"), alive));
}

TEST(JoinWmiRow, a_process_that_is_no_longer_the_one_in_the_table_keeps_no_command_line) {
  ProcessTable table = table_with(42, started);
  EXPECT_FALSE(join_wmi_row(table, row(42, u"a", started_text), gone));
  EXPECT_EQ(table[42].command_line, u"");
}

TEST(JoinWmiRow, an_empty_command_line_string_is_copied_as_it_is) {
  ProcessTable table = table_with(42, started);
  EXPECT_TRUE(join_wmi_row(table, row(42, u"", started_text), alive));
}

// A scripted enumeration: each request takes the next step and advances the
// clock by the step's delay.
struct ScriptedStep {
  WmiStep step;
  std::uint64_t takes_ms = 0;
};

struct Script {
  std::deque<ScriptedStep> steps;
  std::vector<std::uint32_t> timeouts;
};

std::uint64_t fake_now = 0;
std::uint64_t fake_tick() { return fake_now; }

WmiStep scripted_next(void* context, std::uint32_t timeout_ms) {
  auto& script = *static_cast<Script*>(context);
  script.timeouts.push_back(timeout_ms);
  if (script.steps.empty()) return WmiStep{1, std::nullopt};  // WBEM_S_FALSE: the end
  ScriptedStep next = std::move(script.steps.front());
  script.steps.pop_front();
  fake_now += next.takes_ms;
  return next.step;
}

class JoinWmiRows : public ::testing::Test {
 protected:
  void SetUp() override { fake_now = 1000000; }
  std::int32_t run() {
    const WmiRowSource source{&scripted_next, &script, &fake_tick, &alive};
    return join_wmi_rows(table, source);
  }
  void add_row(std::uint32_t pid, std::u16string cli, std::uint64_t takes_ms = 1) {
    script.steps.push_back({WmiStep{0, row(pid, std::move(cli), started_text)}, takes_ms});
  }
  void add_wait(std::uint64_t takes_ms) { script.steps.push_back({WmiStep{wbem_s_timedout, std::nullopt}, takes_ms}); }
  void add_end(std::int32_t code, std::uint64_t takes_ms = 1) { script.steps.push_back({WmiStep{code, std::nullopt}, takes_ms}); }

  ProcessTable table = [] {
    ProcessTable t = table_with(1, started);
    t[2] = t[1];
    t[2].pid = 2;
    return t;
  }();
  Script script;
};

TEST_F(JoinWmiRows, a_complete_enumeration_joins_every_row_and_reports_zero) {
  add_row(1, u"one");
  add_row(2, u"two");
  add_end(1);
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(table[1].command_line, u"one");
  EXPECT_EQ(table[2].command_line, u"two");
  EXPECT_EQ(script.timeouts, (std::vector<std::uint32_t>{100, 100, 100}));
}

TEST_F(JoinWmiRows, waiting_steps_continue_until_a_row_arrives) {
  add_wait(100);
  add_wait(100);
  add_row(2, u"two");
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(table[2].command_line, u"two");
}

TEST_F(JoinWmiRows, a_failing_enumeration_call_becomes_the_status_and_keeps_the_rows_seen_before) {
  add_row(1, u"one");
  add_end(static_cast<std::int32_t>(0x80041006));  // WBEM_E_OUT_OF_MEMORY
  add_row(2, u"two");
  EXPECT_EQ(run(), static_cast<std::int32_t>(0x80041006));
  EXPECT_EQ(table[1].command_line, u"one");
  EXPECT_EQ(table[2].command_line, u"");
}

TEST_F(JoinWmiRows, the_budget_of_three_seconds_ends_a_slow_enumeration_as_timed_out) {
  add_row(1, u"one", 1000);
  for (int i = 0; i < 30; ++i) add_wait(100);
  add_row(2, u"two");
  EXPECT_EQ(run(), wbem_s_timedout);
  EXPECT_EQ(table[1].command_line, u"one");
  EXPECT_EQ(table[2].command_line, u"");
  EXPECT_EQ(script.timeouts.size(), 21u);  // 1000 ms + 20 waits of 100 ms reach the deadline
}

TEST_F(JoinWmiRows, an_enumeration_that_ends_exactly_at_the_deadline_counts_as_timed_out) {
  add_row(1, u"one", 2999);
  add_end(1, 1);
  EXPECT_EQ(run(), wbem_s_timedout);
  EXPECT_EQ(table[1].command_line, u"one");
}

TEST_F(JoinWmiRows, an_enumeration_that_ends_just_before_the_deadline_is_complete) {
  add_row(1, u"one", 2998);
  add_end(1, 1);
  EXPECT_EQ(run(), 0);
}

TEST_F(JoinWmiRows, a_failure_after_the_deadline_keeps_its_own_code) {
  add_end(static_cast<std::int32_t>(0x80041001), 5000);
  EXPECT_EQ(run(), static_cast<std::int32_t>(0x80041001));
}

}  // namespace
}  // namespace mirrow::inspector
