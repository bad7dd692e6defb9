#pragma once
// The memory report: the machine's memory figures in bytes, then every
// process of the table with its working set and private memory.
#include <cstdint>
#include <optional>
#include <string>

#include "classifier/process_facts.h"

namespace mirrow::inspector {

// System figures, already multiplied by the page size; all 0 when the
// system could not be asked.
struct SystemMemory {
  bool available = false;
  std::uint64_t physical_total = 0;
  std::uint64_t physical_available = 0;
  std::uint64_t nonpaged_pool = 0;
  std::uint64_t paged_pool = 0;
  std::uint64_t system_cache = 0;
  std::uint64_t commit_total = 0;
  std::uint64_t commit_limit = 0;
};

// A process's counters as the system gave them; `extended` tells whether the
// larger record with the private working set and shared commit was accepted.
struct MemoryCounters {
  bool extended = false;
  std::uint64_t working_set = 0;
  std::uint64_t private_usage = 0;
  std::uint64_t private_working_set = 0;
  std::uint64_t shared_commit = 0;
};

// The figures as reported: the private working set is withheld when the
// system did not give it or when it exceeds the working set (the two
// counters are read at slightly different moments).
struct ProcessMemory {
  std::uint64_t working_set = 0;
  std::uint64_t private_bytes = 0;
  std::optional<std::uint64_t> private_working_set;
  std::optional<std::uint64_t> shared_commit;
};

ProcessMemory reported_memory(const MemoryCounters& counters);

// `{"system_available":...,"processes":[`
void append_memory_header(std::string& out, const SystemMemory& system);
// One process object, preceded by "," unless it is the first; without
// figures (the process could not be opened or is no longer the one in the
// table) every figure is null.
void append_memory_process(std::string& out, bool first, const ProcessFacts& facts,
                           const std::optional<ProcessMemory>& memory);
// `]}`
void append_memory_footer(std::string& out);

}  // namespace mirrow::inspector
