// One collection pass, written against the platform calls of
// classifier/collection_calls.h: the facts of every snapshot entry, then the
// window pass. Nothing here fails loudly; a query that fails leaves its
// field at the cautious default.
#include <utility>

#include "classifier/collection_calls.h"
#include "common/scope_exit.h"

namespace mirrow {
namespace {

// The facts that need an opened process: creation time, image path, user
// and criticality.
void read_opened_process(void* process, ProcessFacts& facts, const CollectionCalls& calls) {
  std::uint64_t ticks = 0;
  if (calls.creation_time_of(process, ticks)) facts.creation_time = ticks;
  std::u16string path;
  if (calls.image_path_of(process, path)) facts.image_path = std::move(path);
  facts.same_user = calls.same_user_as_caller(process);
  bool critical = true;
  if (calls.criticality_of(process, critical)) {
    facts.critical = critical;
    facts.critical_known = true;
  }
}

ProcessFacts facts_of(SnapshotEntry& entry, const CollectionCalls& calls) {
  ProcessFacts facts;
  facts.pid = entry.pid;
  facts.parent_pid = entry.parent_pid;
  facts.exe_name = std::move(entry.exe_name);
  std::uint32_t session = 0;
  if (calls.session_of(facts.pid, session)) facts.session_id = session;

  // A process that exited since the snapshot (or that we may not open) is
  // still listed, with the defaults of an unopened process.
  void* const process = calls.open_for_query(facts.pid);
  if (process == nullptr) return facts;
  const auto close_process = scope_exit([&] { calls.close_process(process); });
  read_opened_process(process, facts, calls);
  return facts;
}

// A table that could not hold every process cannot prove that a process has
// no children, so none of its entries may count as confirmed.
void withdraw_confirmation(ProcessTable& table) {
  for (auto& [pid, facts] : table) facts.critical_known = false;
}

void read_snapshot(void* snapshot, ProcessTable& table, const CollectionCalls& calls) {
  SnapshotEntry entry;
  for (bool more = calls.read_first_entry(snapshot, entry); more;
       more = calls.read_next_entry(snapshot, entry)) {
    if (table.size() >= kMaxCollectedProcesses && !table.contains(entry.pid)) {
      withdraw_confirmation(table);
      return;
    }
    ProcessFacts facts = facts_of(entry, calls);
    const std::uint32_t pid = facts.pid;
    table.insert_or_assign(pid, std::move(facts));
    entry = SnapshotEntry{};
  }
}

void mark_window_owner(void* context, std::uint32_t pid) noexcept {
  auto& table = *static_cast<ProcessTable*>(context);
  const auto entry = table.find(pid);
  if (entry != table.end()) entry->second.has_visible_window = true;
}

}  // namespace

void mark_visible_windows(ProcessTable& table, const CollectionCalls& calls) {
  calls.visit_visible_windows(&mark_window_owner, &table);
}

ProcessTable collect_process_table(const CollectionCalls& calls) {
  ProcessTable table;
  void* const snapshot = calls.take_snapshot();
  if (snapshot == nullptr) {
    mark_visible_windows(table, calls);
    return table;
  }
  const auto close_snapshot = scope_exit([&] { calls.close_snapshot(snapshot); });
  read_snapshot(snapshot, table, calls);
  mark_visible_windows(table, calls);
  return table;
}

}  // namespace mirrow
