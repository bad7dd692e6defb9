#pragma once
// The platform operations one collection pass is built from, as a table of
// plain function pointers. The real table (windows_collection_calls, in
// mirrow_classifier_win) makes the Windows calls; tests hand in a scripted
// table to drive the pass through processes that exit, ids that repeat and
// queries that fail. Pure header: handles travel as opaque pointers, and null
// always means "none".
#include <cstddef>
#include <cstdint>
#include <string>

#include "classifier/process_facts.h"

namespace mirrow {

// One process as the snapshot lists it.
struct SnapshotEntry {
  std::uint32_t pid = 0;
  std::uint32_t parent_pid = 0;
  std::u16string exe_name;
};

struct CollectionCalls {
  // Snapshot of all processes; null when it cannot be taken.
  void* (*take_snapshot)();
  // Read the first / next entry; false when there is none or the read fails.
  bool (*read_first_entry)(void* snapshot, SnapshotEntry& entry);
  bool (*read_next_entry)(void* snapshot, SnapshotEntry& entry);
  void (*close_snapshot)(void* snapshot);

  // Session of a process id; false when it cannot be read.
  bool (*session_of)(std::uint32_t pid, std::uint32_t& session);

  // Opens a process with the limited query right only; null when it cannot.
  void* (*open_for_query)(std::uint32_t pid);
  // Queries on an opened process; each returns false when it fails.
  bool (*creation_time_of)(void* process, std::uint64_t& ticks);
  bool (*image_path_of)(void* process, std::u16string& path);
  bool (*criticality_of)(void* process, bool& critical);  // false also when the query is missing
  bool (*same_user_as_caller)(void* process);
  void (*close_process)(void* process);

  // Calls visit(context, pid) for the owner of every visible top-level window.
  void (*visit_visible_windows)(void (*visit)(void* context, std::uint32_t pid), void* context);
};

// The most processes one pass keeps. A snapshot with more is cut short there,
// and every kept entry loses its confirmed criticality, so the verdict refuses
// them all rather than miss a child or an ancestor that was left out.
inline constexpr std::size_t kMaxCollectedProcesses = 65536;

// One collection pass over the given calls: the facts of every snapshot entry
// (a repeated id overwrites the earlier entry), then the window pass. Every
// snapshot and process handle is closed on every path, exceptions included.
ProcessTable collect_process_table(const CollectionCalls& calls);

// The window pass over the given calls.
void mark_visible_windows(ProcessTable& table, const CollectionCalls& calls);

// The real Windows calls (Windows only, defined in mirrow_classifier_win).
const CollectionCalls& windows_collection_calls();

}  // namespace mirrow
