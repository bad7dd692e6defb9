#pragma once
// Builders for process tables in verdict tests: a process whose every fact is
// confirmed and which nothing refuses by itself, in the caller's session.
#include <cstdint>
#include <string>

#include "classifier/process_facts.h"
#include "classifier/verdict.h"

namespace mirrow::test {

inline constexpr std::uint32_t kOwnPid = 1000;
inline constexpr std::uint32_t kOwnSession = 1;

inline VerdictEnvironment environment() {
  return VerdictEnvironment{kOwnPid, kOwnSession, u"C:\\Windows"};
}

inline ProcessFacts confirmed(std::uint32_t pid, std::uint32_t parent_pid,
                              std::uint64_t creation_time,
                              std::u16string exe_name = u"worker.exe") {
  ProcessFacts facts;
  facts.pid = pid;
  facts.parent_pid = parent_pid;
  facts.session_id = kOwnSession;
  facts.creation_time = creation_time;
  facts.image_path = u"C:\\Tools\\" + exe_name;
  facts.exe_name = std::move(exe_name);
  facts.same_user = true;
  facts.critical = false;
  facts.critical_known = true;
  return facts;
}

inline void add(ProcessTable& table, const ProcessFacts& facts) { table[facts.pid] = facts; }

}  // namespace mirrow::test
