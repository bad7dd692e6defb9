#pragma once
// The facts of every process, gathered in one collection pass, that the
// freeze verdict (classifier/verdict.h) rests on. Pure header: no Windows
// types, so code that only reads the facts builds natively too.
//
// Link mirrow_classifier for the types and the pure pass; link
// mirrow_classifier_win (Windows only) for the real collection
// (collect_process_table(), is_same_user(), mark_visible_windows(table)).
#include <cstdint>
#include <string>
#include <unordered_map>

namespace mirrow {

// Session id of a process whose session could not be read; it differs from
// every real session.
inline constexpr std::uint32_t kUnknownSession = 0xFFFFFFFFu;

// One process as one collection pass saw it. Every field that could not be
// learnt keeps its default, and the defaults are the cautious ones: a process
// whose criticality is unknown counts as critical.
struct ProcessFacts {
  std::uint32_t pid = 0;
  std::uint32_t parent_pid = 0;          // may name a process that has exited
  std::uint32_t session_id = kUnknownSession;
  std::uint64_t creation_time = 0;       // 100-ns ticks since 1601-01-01 UTC; 0 = unknown
  std::u16string exe_name;               // executable file name without directory
  std::u16string image_path;             // Win32 path form; empty = unknown
  std::u16string command_line;           // never filled by the collection; the snapshot report fills it
  bool has_visible_window = false;
  bool same_user = false;                // runs as the calling process's user
  bool critical = true;                  // true unless the system said otherwise
  bool critical_known = false;           // true only when the system answered the criticality query
};

// All processes of one pass keyed by pid. Owned by the caller, built afresh
// by every pass and never updated afterwards; iteration order is the map's.
using ProcessTable = std::unordered_map<std::uint32_t, ProcessFacts>;

// --- Real collection (Windows only, defined in mirrow_classifier_win) ---

// Takes a process snapshot and gathers the facts of every entry, then marks
// the processes that own a visible top-level window. Never fails: what cannot
// be learnt keeps its default, and a snapshot that cannot be taken gives an
// empty table. At most 65536 processes are kept; a larger snapshot is cut
// short and its entries lose critical_known, so every verdict on it refuses.
// Only memory exhaustion escapes, as an exception, with every handle closed.
ProcessTable collect_process_table();

// True when the process behind `process_handle` (a Windows HANDLE opened with
// at least PROCESS_QUERY_LIMITED_INFORMATION) runs as the same token user as
// the calling process; false when either token cannot be read.
bool is_same_user(void* process_handle);

// The window pass: sets has_visible_window on every entry whose pid owns a
// visible top-level window. Windows of pids not in the table are ignored.
// collect_process_table() runs it as its last step.
void mark_visible_windows(ProcessTable& table);

}  // namespace mirrow
