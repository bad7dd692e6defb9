#include "inspector/snapshot_report.h"

#include <gtest/gtest.h>

namespace mirrow::inspector {
namespace {

const VerdictEnvironment environment{1000, 1, u"C:\\Windows"};

ProcessFacts confirmed(std::uint32_t pid, std::uint32_t parent, std::uint64_t created) {
  ProcessFacts facts;
  facts.pid = pid;
  facts.parent_pid = parent;
  facts.session_id = 1;
  facts.creation_time = created;
  facts.exe_name = u"tool.exe";
  facts.image_path = u"C:\\Tools\\tool.exe";
  facts.command_line = u"tool.exe \"a b\"";
  facts.same_user = true;
  facts.critical = false;
  facts.critical_known = true;
  return facts;
}

TEST(SnapshotReport, an_entry_lists_every_fact_in_order_with_digit_booleans_and_a_quoted_creation_time) {
  ProcessTable table;
  ProcessFacts facts = confirmed(500, 0, 133485408000000000);
  facts.has_visible_window = true;
  table[500] = facts;
  std::string out;
  append_snapshot_report(out, 0, table, 1000, environment);
  EXPECT_EQ(out,
            "{\"wmi_status\":0,\"processes\":[{\"pid\":500,\"parent\":0,\"session\":1,"
            "\"created\":\"133485408000000000\",\"name\":\"tool.exe\",\"path\":\"C:\\\\Tools\\\\tool.exe\","
            "\"cli\":\"tool.exe \\\"a b\\\"\",\"ui\":1,\"same_user\":1,"
            "\"protected\":\"\\u0415\\u0441\\u0442\\u044c \\u0432\\u0438\\u0434\\u0438\\u043c\\u043e\\u0435 "
            "\\u043e\\u043a\\u043d\\u043e\"}]}");
}

TEST(SnapshotReport, unknown_facts_print_as_their_defaults_and_the_reason_travels_escaped) {
  ProcessTable table;
  ProcessFacts unknown;
  unknown.pid = 4;
  unknown.exe_name = u"System";
  table[4] = unknown;
  std::string out;
  append_snapshot_report(out, static_cast<std::int32_t>(0x80041003), table, 1000, environment);
  EXPECT_EQ(out,
            "{\"wmi_status\":-2147217405,\"processes\":[{\"pid\":4,\"parent\":0,\"session\":4294967295,"
            "\"created\":\"0\",\"name\":\"System\",\"path\":\"\",\"cli\":\"\",\"ui\":0,\"same_user\":0,"
            "\"protected\":\"\\u041d\\u0435\\u0442 \\u043f\\u043e\\u0434\\u0442\\u0432\\u0435\\u0440\\u0436\\u0434"
            "\\u0451\\u043d\\u043d\\u044b\\u0445 \\u043c\\u0435\\u0442\\u0430\\u0434\\u0430\\u043d\\u043d\\u044b\\u0445\"}]}");
}

TEST(SnapshotReport, the_verdict_is_taken_on_behalf_of_the_given_anchor) {
  ProcessTable table;
  table[1000] = confirmed(1000, 0, 10);
  table[2000] = confirmed(2000, 0, 10);
  std::string as_anchor, as_other;
  append_snapshot_report(as_anchor, 0, {{2000, table[2000]}}, 2000, environment);
  append_snapshot_report(as_other, 0, {{2000, table[2000]}}, 3000, environment);
  const std::string critical_or_own =
      "\\u041a\\u0440\\u0438\\u0442\\u0438\\u0447\\u0435\\u0441\\u043a\\u0438\\u0439 / "
      "\\u0441\\u043e\\u0431\\u0441\\u0442\\u0432\\u0435\\u043d\\u043d\\u044b\\u0439 \\u043f\\u0440\\u043e\\u0446\\u0435\\u0441\\u0441";
  EXPECT_NE(as_anchor.find("\"protected\":\"" + critical_or_own + "\""), std::string::npos);
  EXPECT_NE(as_other.find("\"protected\":\"\"}"), std::string::npos);  // a confirmed root may be frozen
}

TEST(SnapshotReport, an_empty_table_gives_an_empty_process_list) {
  std::string out;
  append_snapshot_report(out, 262148, {}, 1000, environment);
  EXPECT_EQ(out, "{\"wmi_status\":262148,\"processes\":[]}");
}

}  // namespace
}  // namespace mirrow::inspector
