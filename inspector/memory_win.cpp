#include "inspector/memory_win.h"

#include "inspector/same_process_win.h"

namespace mirrow::inspector {
namespace {

// PROCESS_MEMORY_COUNTERS_EX2, which the MinGW headers lack.
struct ProcessMemoryCountersEx2 {
  PROCESS_MEMORY_COUNTERS_EX basic;
  SIZE_T PrivateWorkingSetSize;
  ULONG64 SharedCommitUsage;
};
static_assert(sizeof(PROCESS_MEMORY_COUNTERS_EX) == 80);
static_assert(sizeof(ProcessMemoryCountersEx2) == 96);

template <typename Record>
bool query_counters(HANDLE process, Record& record, const MemoryCalls& calls) {
  record = Record{};
  return calls.get_process_memory_info(process, reinterpret_cast<PPROCESS_MEMORY_COUNTERS>(&record), sizeof record) != FALSE;
}

}  // namespace

const MemoryCalls& windows_memory_calls() {
  static const MemoryCalls calls{&K32GetPerformanceInfo, &K32GetProcessMemoryInfo};
  return calls;
}

std::optional<MemoryCounters> read_memory_counters(HANDLE process, const MemoryCalls& calls) {
  ProcessMemoryCountersEx2 extended;
  if (query_counters(process, extended, calls)) {
    return MemoryCounters{true, extended.basic.WorkingSetSize, extended.basic.PrivateUsage,
                          extended.PrivateWorkingSetSize, extended.SharedCommitUsage};
  }
  PROCESS_MEMORY_COUNTERS_EX basic;
  if (query_counters(process, basic, calls)) {
    return MemoryCounters{false, basic.WorkingSetSize, basic.PrivateUsage, 0, 0};
  }
  return std::nullopt;
}

SystemMemory read_system_memory(const MemoryCalls& calls) {
  PERFORMANCE_INFORMATION information{};
  information.cb = sizeof information;
  if (!calls.get_performance_info(&information, sizeof information)) return {};
  const std::uint64_t page = information.PageSize;
  return SystemMemory{true,
                      information.PhysicalTotal * page,
                      information.PhysicalAvailable * page,
                      information.KernelNonpaged * page,
                      information.KernelPaged * page,
                      information.SystemCache * page,
                      information.CommitTotal * page,
                      information.CommitLimit * page};
}

void append_memory_processes(std::string& out, const ProcessTable& table, const MemoryCalls& calls) {
  bool first = true;
  for (const auto& [pid, facts] : table) {
    std::optional<ProcessMemory> memory;
    if (const UniqueHandle process = open_same_process(facts.pid, facts.creation_time)) {
      if (const auto counters = read_memory_counters(process.get(), calls)) memory = reported_memory(*counters);
    }
    append_memory_process(out, first, facts, memory);
    first = false;
  }
}

void write_memory_report(std::string& out, const MemoryCalls& calls) {
  append_memory_header(out, read_system_memory(calls));
  append_memory_processes(out, collect_process_table(), calls);
  append_memory_footer(out);
}

}  // namespace mirrow::inspector
