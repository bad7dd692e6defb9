#include "inspector/memory_win.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/strict_json.h"

namespace mirrow::inspector {
namespace {

using mirrow::testing::parse_strict_json;

// Scripted counters: which record sizes the "system" accepts, and what it
// reports for them.
struct FakeCounters {
  DWORD largest_accepted = 96;
  std::vector<DWORD> sizes_asked;
  bool record_was_zeroed = true;
  bool performance_fails = false;
};

FakeCounters* fake = nullptr;

BOOL WINAPI fake_performance_info(PPERFORMANCE_INFORMATION information, DWORD size) {
  if (fake->performance_fails || size != sizeof *information || information->cb != 104) return FALSE;
  information->PageSize = 4096;
  information->PhysicalTotal = 1;
  information->PhysicalAvailable = 2;
  information->KernelNonpaged = 3;
  information->KernelPaged = 4;
  information->SystemCache = 5;
  information->CommitTotal = 6;
  information->CommitLimit = 7;
  return TRUE;
}

BOOL WINAPI fake_process_memory_info(HANDLE, PPROCESS_MEMORY_COUNTERS counters, DWORD size) {
  fake->sizes_asked.push_back(size);
  const auto* bytes = reinterpret_cast<const unsigned char*>(counters);
  for (DWORD i = 0; i < size; ++i) fake->record_was_zeroed = fake->record_was_zeroed && bytes[i] == 0;
  if (size > fake->largest_accepted) return FALSE;
  auto* words = reinterpret_cast<std::uint64_t*>(counters);  // 8-byte fields after cb and PageFaultCount
  words[2] = 1000;                                            // WorkingSetSize
  words[9] = 3000;                                            // PrivateUsage
  if (size == 96) {
    words[10] = 800;  // PrivateWorkingSetSize
    words[11] = 200;  // SharedCommitUsage
  }
  return TRUE;
}

const MemoryCalls fake_calls{&fake_performance_info, &fake_process_memory_info};

std::uint64_t own_creation_time() {
  FILETIME created{}, exited{}, kernel{}, user{};
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  return (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

ProcessFacts entry(std::uint32_t pid, std::uint64_t creation_time) {
  ProcessFacts facts;
  facts.pid = pid;
  facts.creation_time = creation_time;
  facts.exe_name = u"x.exe";
  return facts;
}

class MemoryFromSystem : public ::testing::Test {
 protected:
  void SetUp() override { fake = &counters; }
  void TearDown() override { fake = nullptr; }
  FakeCounters counters;
};

TEST_F(MemoryFromSystem, the_extended_record_is_asked_for_first) {
  const auto read = read_memory_counters(GetCurrentProcess(), fake_calls);
  ASSERT_TRUE(read);
  EXPECT_TRUE(read->extended);
  EXPECT_EQ(read->working_set, 1000u);
  EXPECT_EQ(read->private_usage, 3000u);
  EXPECT_EQ(read->private_working_set, 800u);
  EXPECT_EQ(read->shared_commit, 200u);
  EXPECT_EQ(counters.sizes_asked, (std::vector<DWORD>{96}));
  EXPECT_TRUE(counters.record_was_zeroed);
}

TEST_F(MemoryFromSystem, a_rejected_extended_record_falls_back_to_a_zeroed_80_byte_record) {
  counters.largest_accepted = 80;
  const auto read = read_memory_counters(GetCurrentProcess(), fake_calls);
  ASSERT_TRUE(read);
  EXPECT_FALSE(read->extended);
  EXPECT_EQ(read->working_set, 1000u);
  EXPECT_EQ(counters.sizes_asked, (std::vector<DWORD>{96, 80}));
  EXPECT_TRUE(counters.record_was_zeroed);
}

TEST_F(MemoryFromSystem, both_records_rejected_give_no_counters) {
  counters.largest_accepted = 0;
  EXPECT_EQ(read_memory_counters(GetCurrentProcess(), fake_calls), std::nullopt);
}

TEST_F(MemoryFromSystem, system_figures_are_page_counts_times_the_page_size_or_all_zero) {
  const SystemMemory system = read_system_memory(fake_calls);
  EXPECT_TRUE(system.available);
  EXPECT_EQ(system.physical_total, 4096u);
  EXPECT_EQ(system.commit_limit, 7u * 4096u);
  counters.performance_fails = true;
  const SystemMemory failed = read_system_memory(fake_calls);
  EXPECT_FALSE(failed.available);
  EXPECT_EQ(failed.physical_total, 0u);
  EXPECT_EQ(failed.commit_limit, 0u);
}

TEST_F(MemoryFromSystem, only_a_process_that_is_still_the_one_in_the_table_gets_figures) {
  const std::uint32_t own = GetCurrentProcessId();
  ProcessTable table;
  table[own] = entry(own, own_creation_time());
  table[1] = entry(own, own_creation_time() + 1);  // the id now belongs to a newer process
  table[2] = entry(own, 0);                        // creation time unknown
  table[3] = entry(0xFFFFFFF0u, 1);                // gone
  counters.largest_accepted = 80;
  std::string out = "[";
  append_memory_processes(out, table, fake_calls);
  out += "]";
  const auto parsed = parse_strict_json(out);
  ASSERT_TRUE(parsed) << out;
  ASSERT_EQ(parsed->items.size(), 4u);
  int with_figures = 0;
  for (const auto& process : parsed->items) {
    if (process["ws"].kind == testing::JsonValue::Kind::null) {
      EXPECT_EQ(process["private_bytes"].kind, testing::JsonValue::Kind::null);
      continue;
    }
    ++with_figures;
    const std::string created = std::to_string(own_creation_time());
    EXPECT_EQ(process["created"].text, std::u16string(created.begin(), created.end()));
    EXPECT_EQ(process["ws"].literal, "1000");
    EXPECT_EQ(process["private_ws"].kind, testing::JsonValue::Kind::null);
    EXPECT_EQ(process["shared_commit"].kind, testing::JsonValue::Kind::null);
  }
  EXPECT_EQ(with_figures, 1);
}

TEST(MemoryFromTheRealSystem, the_calling_process_has_a_working_set) {
  const auto read = read_memory_counters(GetCurrentProcess(), windows_memory_calls());
  ASSERT_TRUE(read);
  EXPECT_GT(read->working_set, 0u);
  EXPECT_TRUE(read_system_memory(windows_memory_calls()).available);
}

}  // namespace
}  // namespace mirrow::inspector
