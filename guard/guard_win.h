#pragma once
// The guard's Windows side: the output and journal writers, the real
// suspension lifecycle, the self-test and fixture modes, and the program
// entry with its seam for the process facts.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "classifier/process_facts.h"
#include "common/unique_handle.h"
#include "guard/nt_status.h"
#include "guard/recovery.h"

namespace mirrow::guard {

// Writes the line and one line feed to standard output in a single WriteFile;
// the result of the write is not examined.
void write_output_line(std::string_view line);

// Appends the line and one line feed to the journal at `path` (opened and
// closed for this one line); an empty path means no journal, and a journal
// that cannot be opened loses the line silently.
void append_journal_line(std::u16string_view path, std::string_view line);

// The last `max_bytes` of the journal at `path`, read while guards may still
// append to it; nothing when it is missing or cannot be read.
std::optional<JournalTail> read_journal_tail(std::u16string_view path, std::size_t max_bytes);

// Suspends `target`, holds it while `owner` is unsignalled, the lease runs and
// the control pipe (standard input) stays open and talking, then resumes it
// once. Returns the resume status, or why the freeze never began.
NtStatus freeze_under_lease(HANDLE target, HANDLE owner, std::uint32_t lease_seconds,
                            std::u16string_view journal_path, std::uint32_t heartbeat_timeout_ms);

// The console control handler of the normal form. Ctrl+C and Ctrl+Break are
// ignored, since the lease loop alone decides when the freeze ends. A closing
// console, logoff or shutdown requests the ending and keeps the process alive
// (up to about two seconds) until the target has been resumed and the final
// line written.
void install_console_ending_handler();
bool console_ending_requested();
// Marks the target as about to be suspended; false when an ending was already
// requested, and then nothing may be suspended.
bool console_hold_begins();
// Marks the target as running again, with its final line written.
void console_hold_ends();

// Opens the target (synchronize, suspend/resume, limited query) and the owner
// (synchronize), neither inheritable, and proves through the new target
// handle that its creation time is `creation_ticks`: a process id handed to
// a new process since the snapshot fails here. False leaves both empty.
struct PinnedProcesses {
  UniqueHandle target;
  UniqueHandle owner;
};
bool pin_processes(std::uint32_t target_pid, std::uint32_t owner_pid, std::uint64_t creation_ticks,
                   PinnedProcesses& pinned);
// The target half of the pin: the same rights and the same proof by the
// creation time; empty when either fails.
UniqueHandle pin_target(std::uint32_t target_pid, std::uint64_t creation_ticks);

// The named mutex that marks a live freeze of the target (see
// freeze_mark_name), held from just before the suspension until after the
// final line. Empty when the mark already existed (another guard holds it,
// or a recovery run is looking at it) or cannot be created: then this guard
// must not suspend the target.
UniqueHandle take_freeze_mark(std::uint32_t target_pid, std::uint64_t creation_ticks);

// The recovery form over the real system.
int run_recovery_form(const RecoveryArguments& arguments);

// Sleeps forever: the harmless child that the self-test freezes.
[[noreturn]] void run_fixture();

// Freezes a fixture child of its own four times and prints the statuses.
int run_self_test();

// Where the normal form gets its process facts and its verdict from. The
// shipped program always uses real_process_facts().
struct ProcessFactsSource {
  ProcessTable (*collect)();
  std::u16string (*verdict)(const ProcessFacts& target, const ProcessTable& table, std::uint32_t anchor_pid);
};

ProcessFactsSource real_process_facts();

// The program entry behind wmain: arguments after the program name.
int guard_main(int argc, wchar_t** argv, const ProcessFactsSource& facts);

}  // namespace mirrow::guard
