#include "host/process_reports.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace mirrow::host {
namespace {

using ::testing::HasSubstr;
using ::testing::Optional;

constexpr const char* kSnapshot =
    R"({"wmi_status":-2147217405,"processes":[)"
    R"({"pid":4,"parent":0,"session":4294967295,"created":"0","name":"System","path":"","cli":"","ui":0,"same_user":0,)"
    R"("protected":"\u041a\u043e\u043c\u043f\u043e\u043d\u0435\u043d\u0442 Windows"},)"
    R"({"pid":4242,"parent":100,"session":1,"created":"133790000000000000","name":"note.exe","path":"c:\\note.exe",)"
    R"("cli":"note","ui":1,"same_user":1,"protected":""}]})";

TEST(ProcessReports, the_process_table_shows_verdicts_as_utf8_and_clear_processes_as_may_be_frozen) {
  const auto text = process_table(kSnapshot);
  ASSERT_TRUE(text);
  EXPECT_THAT(*text, HasSubstr("   4       0        -  no   no         System    Компонент Windows\n"));
  EXPECT_THAT(*text, HasSubstr("4242     100        1  yes  yes        note.exe  may be frozen\n"));
  EXPECT_THAT(*text, HasSubstr("2 processes; command lines unavailable (WMI status -2147217405)\n"));
}

TEST(ProcessReports, the_memory_table_lists_processes_by_working_set_with_dashes_for_null_figures) {
  const auto text = memory_table(
      R"({"system_available":1,"physical_total":8589934592,"physical_available":4294967296,"nonpaged_pool":0,)"
      R"("paged_pool":0,"system_cache":0,"commit_total":0,"commit_limit":0,"processes":[)"
      R"({"pid":4,"parent":0,"created":"0","name":"System","path":"","ws":null,"private_bytes":null,"private_ws":null,"shared_commit":null},)"
      R"({"pid":9,"parent":4,"created":"1","name":"a.exe","path":"","ws":2048,"private_bytes":1024,"private_ws":null,"shared_commit":null}]})");
  ASSERT_TRUE(text);
  EXPECT_THAT(*text, HasSubstr("physical_total      8.0 GiB\n"));
  const auto a = text->find("a.exe");
  const auto system = text->find("System\n");
  ASSERT_NE(a, std::string::npos);
  EXPECT_LT(a, system);
  EXPECT_THAT(*text, HasSubstr("  9      2.0 KiB  1.0 KiB           -  a.exe\n"));
}

TEST(ProcessReports, the_load_line_says_when_the_first_sample_only_starts_measuring) {
  EXPECT_THAT(load_line(R"({"cpu":null,"names":["a","b"]})"),
              Optional(std::string("CPU load: measuring (first sample), 2 processes")));
  EXPECT_THAT(load_line(R"({"cpu":33.3333,"names":[]})"), Optional(std::string("CPU load: 33.3 %, 0 processes")));
  EXPECT_FALSE(load_line("[]"));
}

TEST(ProcessReports, crash_events_show_local_times_and_unreadable_logs_their_error) {
  const auto text = crash_table(
      R"([{"id":0,"ticks":"0","channel":"System","provider":"unavailable","error":5},)"
      R"({"id":1000,"ticks":"133485732000000000","channel":"Application","provider":"Application Error","xml":"<E/>"}])",
      3600);
  ASSERT_TRUE(text);
  EXPECT_THAT(*text, HasSubstr("2024-01-01 10:00:00  1000  Application  Application Error\n"));
  EXPECT_THAT(*text, HasSubstr("System log unavailable (error 5)\n"));
  EXPECT_THAT(crash_table("[]", 0), Optional(std::string("no crash or unexpected-shutdown events\n")));
}

TEST(ProcessReports, a_text_that_is_not_the_expected_report_is_refused) {
  EXPECT_FALSE(process_table("[]"));
  EXPECT_FALSE(memory_table("{\"processes\":1}"));
  EXPECT_FALSE(crash_table("{}", 0));
}

}  // namespace
}  // namespace mirrow::host
