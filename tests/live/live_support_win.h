#pragma once
// What the live tests share: why a case cannot run here, the engine's trace
// sessions on the machine, drained records, Telvyn's reports and programs
// started beside the test.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "host/activity_lines.h"
#include "host/json_value.h"
#include "support/vantrel_api.h"

namespace mirrow::live {

// The reason to skip, or nothing when the case can run: under Wine (which
// lacks `wine_lacks`), and, when `needs_rights`, without elevation.
std::optional<std::string> cannot_run_here(const std::string& wine_lacks, bool needs_rights);

#define LIVE_SKIP_UNLESS_POSSIBLE(wine_lacks, needs_rights)                           \
  if (const auto live_reason = ::mirrow::live::cannot_run_here(wine_lacks, needs_rights)) \
  GTEST_SKIP() << *live_reason

// The long form of an existing path. The temporary directory may be given
// in its short (8.3) form, while the kernel names files by their long names.
std::wstring long_form(const std::wstring& path);

// The trace sessions on the machine whose names carry an engine prefix.
std::vector<std::u16string> engine_sessions();
// Stops sessions by name, so that a failing case leaves the machine clean.
void stop_sessions(const std::vector<std::u16string>& sessions);
// The same, printable, for failure messages.
std::string listed(const std::vector<std::u16string>& sessions);

// Every record drained until a batch comes back empty.
std::vector<host::ActivityRecord> drain_all(vt_engine* engine);

// Makes an empty file at `path` and drains `engine` for up to 5 s; true
// when an "added" record of that path arrived.
bool new_file_reported(vt_engine* engine, const std::wstring& path);

// The 13 statistics slots.
std::vector<std::uint64_t> statistics(vt_engine* engine);
inline constexpr std::size_t kCaptureLive = 8, kWatchersHealthy = 9, kEventsLost = 11, kBuffersLost = 12;

// The diagnostics document, parsed.
host::JsonValue diagnostics(vt_engine* engine);

// A report of the Telvyn.dll beside the test ("tl_snapshot", "tl_crashes").
std::string telvyn_report(const char* export_name);

// Runs a program to its end (killed after `timeout_ms`) with standard output
// and error in one text; nothing when it cannot start. `token`: the token to
// run it under, or null for this process's own.
struct Finished {
  DWORD pid = 0;
  DWORD exit_code = STILL_ACTIVE;
  std::string output;
};
std::optional<Finished> run_to_end(const std::wstring& program, const std::vector<std::wstring>& arguments,
                                   DWORD timeout_ms, HANDLE token = nullptr);

// A copy of this process's token whose Administrators group is deny-only.
HANDLE token_without_administrators();

// Why `token` may not read and execute the file at `path`, or nothing when it
// may: the system's own access check against the file's security. A copy
// run under such a token reads the programs beside it only where their
// folder grants that to a group the token keeps (Users), which a folder
// made by an administrator need not do.
std::optional<std::string> cannot_read_and_execute(HANDLE token, const std::wstring& path);

}  // namespace mirrow::live
