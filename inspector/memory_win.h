#pragma once
// The memory report from the system's figures: the performance information
// for the machine and the memory counters of every process in the table.
#include <windows.h>
#include <psapi.h>

#include <optional>
#include <string>

#include "classifier/process_facts.h"
#include "inspector/memory_report.h"

namespace mirrow::inspector {

// The two system calls the report is built from; tests hand in scripted ones.
struct MemoryCalls {
  BOOL(WINAPI* get_performance_info)(PPERFORMANCE_INFORMATION information, DWORD size);
  BOOL(WINAPI* get_process_memory_info)(HANDLE process, PPROCESS_MEMORY_COUNTERS counters, DWORD size);
};

const MemoryCalls& windows_memory_calls();

// The extended record (96 bytes, with the private working set and the
// shared commit) first; when the system rejects that size, the 80-byte one.
// nullopt when both are rejected.
std::optional<MemoryCounters> read_memory_counters(HANDLE process, const MemoryCalls& calls);

SystemMemory read_system_memory(const MemoryCalls& calls);

// The process list of the report, each entry re-identified by its creation
// time before its counters are read.
void append_memory_processes(std::string& out, const ProcessTable& table, const MemoryCalls& calls);

// The whole report: system figures, a fresh process table, the counters.
void write_memory_report(std::string& out, const MemoryCalls& calls);

}  // namespace mirrow::inspector
