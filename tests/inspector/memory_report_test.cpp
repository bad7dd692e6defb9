#include "inspector/memory_report.h"

#include <gtest/gtest.h>

namespace mirrow::inspector {
namespace {

ProcessFacts process(std::uint32_t pid) {
  ProcessFacts facts;
  facts.pid = pid;
  facts.parent_pid = 4;
  facts.creation_time = 133485408000000000;
  facts.exe_name = u"\u0422\u0435\u0441\u0442.exe";
  facts.image_path = u"C:\\Tools\\t.exe";
  return facts;
}

std::string process_text(const ProcessFacts& facts, const std::optional<ProcessMemory>& memory, bool first = true) {
  std::string out;
  append_memory_process(out, first, facts, memory);
  return out;
}

TEST(MemoryReport, the_system_part_lists_every_figure_in_order_then_opens_the_process_list) {
  std::string out;
  append_memory_header(out, SystemMemory{true, 1, 2, 3, 4, 5, 6, 7});
  EXPECT_EQ(out,
            "{\"system_available\":1,\"physical_total\":1,\"physical_available\":2,\"nonpaged_pool\":3,"
            "\"paged_pool\":4,\"system_cache\":5,\"commit_total\":6,\"commit_limit\":7,\"processes\":[");
  out.clear();
  append_memory_header(out, SystemMemory{});
  EXPECT_EQ(out,
            "{\"system_available\":0,\"physical_total\":0,\"physical_available\":0,\"nonpaged_pool\":0,"
            "\"paged_pool\":0,\"system_cache\":0,\"commit_total\":0,\"commit_limit\":0,\"processes\":[");
  out.clear();
  append_memory_footer(out);
  EXPECT_EQ(out, "]}");
}

TEST(MemoryReport, a_process_without_figures_has_the_null_variant_and_unknown_facts_print_as_zero_and_empty) {
  ProcessFacts idle;
  idle.exe_name = u"[System Process]";
  EXPECT_EQ(process_text(idle, std::nullopt),
            "{\"pid\":0,\"parent\":0,\"created\":\"0\",\"name\":\"[System Process]\",\"path\":\"\","
            "\"ws\":null,\"private_bytes\":null,\"private_ws\":null,\"shared_commit\":null}");
}

TEST(MemoryReport, a_process_with_figures_quotes_the_creation_time_but_not_the_figures) {
  const ProcessMemory memory = reported_memory(MemoryCounters{true, 4096, 8192, 2048, 1024});
  EXPECT_EQ(process_text(process(77), memory, false),
            ",{\"pid\":77,\"parent\":4,\"created\":\"133485408000000000\",\"name\":\"\\u0422\\u0435\\u0441\\u0442.exe\","
            "\"path\":\"C:\\\\Tools\\\\t.exe\",\"ws\":4096,\"private_bytes\":8192,\"private_ws\":2048,\"shared_commit\":1024}");
}

TEST(MemoryReport, a_private_working_set_above_the_working_set_is_withheld) {
  const ProcessMemory raced = reported_memory(MemoryCounters{true, 4096, 8192, 4097, 1024});
  EXPECT_EQ(raced.private_working_set, std::nullopt);
  EXPECT_EQ(raced.shared_commit, 1024u);
  EXPECT_EQ(process_text(process(1), raced).substr(process_text(process(1), raced).find(",\"ws\"")),
            ",\"ws\":4096,\"private_bytes\":8192,\"private_ws\":null,\"shared_commit\":1024}");
  EXPECT_EQ(reported_memory(MemoryCounters{true, 4096, 8192, 4096, 0}).private_working_set, 4096u);
}

TEST(MemoryReport, the_basic_record_gives_working_set_and_private_bytes_only) {
  const ProcessMemory basic = reported_memory(MemoryCounters{false, 4096, 8192, 0, 0});
  const std::string text = process_text(process(1), basic);
  EXPECT_EQ(text.substr(text.find(",\"ws\"")), ",\"ws\":4096,\"private_bytes\":8192,\"private_ws\":null,\"shared_commit\":null}");
}

}  // namespace
}  // namespace mirrow::inspector
