#pragma once
// Joining the command lines that WMI reports to the entries of a process
// table. A row is used only when it provably describes the same process as
// the entry: same id, creation date within one microsecond, and the process
// still alive with exactly the entry's creation time.
#include <cstdint>
#include <optional>
#include <string>

#include "classifier/process_facts.h"

namespace mirrow::inspector {

inline constexpr std::int32_t wbem_s_timedout = 0x40004;  // WBEM_S_TIMEDOUT
inline constexpr std::uint64_t wmi_budget_ms = 3000;      // from the moment the query is issued
inline constexpr std::uint32_t wmi_step_ms = 100;         // the longest wait for one row

// One Win32_Process row as its values arrived.
struct WmiRow {
  std::uint32_t process_id = 0xFFFFFFFFu;      // matches no entry unless WMI gave an integer
  std::optional<std::u16string> command_line;  // absent unless WMI gave a string
  std::optional<std::u16string> creation_date; // absent unless WMI gave a string
};

// True when the process with this id is alive and was created at exactly
// `creation_time` (so the id has not passed to a newer process).
using StillSameProcess = bool (*)(std::uint32_t pid, std::uint64_t creation_time);

// Copies the row's command line into the matching entry; true when it did.
bool join_wmi_row(ProcessTable& table, const WmiRow& row, StillSameProcess still_same_process);

// What one request for the next row gave: the call's code, and the row if
// one came back.
struct WmiStep {
  std::int32_t code = 0;
  std::optional<WmiRow> row;
};

// The enumeration as the join sees it. `next` waits at most `timeout_ms`.
struct WmiRowSource {
  WmiStep (*next)(void* context, std::uint32_t timeout_ms);
  void* context;
  std::uint64_t (*tick_ms)();
  StillSameProcess still_same_process;
};

// Reads rows until the enumeration ends or the budget runs out, joining each
// to the table. Returns 0 for a complete enumeration, wbem_s_timedout when
// the budget ran out (also when the end came at or after the deadline), or
// the negative code that ended the enumeration.
std::int32_t join_wmi_rows(ProcessTable& table, const WmiRowSource& source);

}  // namespace mirrow::inspector
