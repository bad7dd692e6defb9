// One collection pass driven through a scripted table of platform calls:
// which facts come from which query, the cautious defaults when a query
// fails, and that every handle is closed on every path.
#include <gtest/gtest.h>

#include <new>
#include <optional>
#include <vector>

#include "classifier/collection_calls.h"

namespace mirrow {
namespace {

struct ScriptedProcess {
  std::uint32_t pid = 0;
  std::uint32_t parent_pid = 0;
  std::u16string exe_name;
  bool openable = true;
  std::optional<std::uint32_t> session;
  std::optional<std::uint64_t> creation_time;
  std::optional<std::u16string> image_path;
  std::optional<bool> critical;  // nullopt: the criticality query is missing or fails
  bool same_user = false;
  bool image_path_query_throws = false;
};

// The machine as the scripted calls show it, and what the pass did to it.
struct Script {
  bool snapshot_fails = false;
  std::vector<ScriptedProcess> processes;
  std::vector<std::uint32_t> visible_window_owners;

  std::size_t next_entry = 0;
  int snapshots_open = 0;
  int processes_open = 0;
  int window_passes = 0;
};

Script* script = nullptr;

// Opaque handles: the snapshot is the script itself, a process is its entry.
ScriptedProcess& process_behind(void* handle) { return *static_cast<ScriptedProcess*>(handle); }

bool read_entry(SnapshotEntry& entry) {
  if (script->next_entry >= script->processes.size()) return false;
  const ScriptedProcess& process = script->processes[script->next_entry++];
  entry.pid = process.pid;
  entry.parent_pid = process.parent_pid;
  entry.exe_name = process.exe_name;
  return true;
}

// The pass asks about the entry it has just read; the search only runs when
// a test scripts something else.
ScriptedProcess* find(std::uint32_t pid) {
  if (script->next_entry > 0 && script->processes[script->next_entry - 1].pid == pid) {
    return &script->processes[script->next_entry - 1];
  }
  for (ScriptedProcess& process : script->processes) {
    if (process.pid == pid) return &process;
  }
  return nullptr;
}

const CollectionCalls kScriptedCalls{
    .take_snapshot = []() -> void* {
      if (script->snapshot_fails) return nullptr;
      ++script->snapshots_open;
      return script;
    },
    .read_first_entry = [](void*, SnapshotEntry& entry) {
      script->next_entry = 0;
      return read_entry(entry);
    },
    .read_next_entry = [](void*, SnapshotEntry& entry) { return read_entry(entry); },
    .close_snapshot = [](void*) { --script->snapshots_open; },
    .session_of = [](std::uint32_t pid, std::uint32_t& session) {
      const ScriptedProcess* process = find(pid);
      if (process == nullptr || !process->session) return false;
      session = *process->session;
      return true;
    },
    .open_for_query = [](std::uint32_t pid) -> void* {
      ScriptedProcess* process = find(pid);
      if (process == nullptr || !process->openable) return nullptr;
      ++script->processes_open;
      return process;
    },
    .creation_time_of = [](void* handle, std::uint64_t& ticks) {
      if (!process_behind(handle).creation_time) return false;
      ticks = *process_behind(handle).creation_time;
      return true;
    },
    .image_path_of = [](void* handle, std::u16string& path) {
      if (process_behind(handle).image_path_query_throws) throw std::bad_alloc();
      if (!process_behind(handle).image_path) return false;
      path = *process_behind(handle).image_path;
      return true;
    },
    .criticality_of = [](void* handle, bool& critical) {
      if (!process_behind(handle).critical) return false;
      critical = *process_behind(handle).critical;
      return true;
    },
    .same_user_as_caller = [](void* handle) { return process_behind(handle).same_user; },
    .close_process = [](void*) { --script->processes_open; },
    .visit_visible_windows = [](void (*visit)(void*, std::uint32_t), void* context) {
      ++script->window_passes;
      for (const std::uint32_t pid : script->visible_window_owners) visit(context, pid);
    },
};

ScriptedProcess fully_known(std::uint32_t pid, std::uint32_t parent_pid, std::u16string name) {
  ScriptedProcess process;
  process.pid = pid;
  process.parent_pid = parent_pid;
  process.image_path = u"C:\\Tools\\" + name;
  process.exe_name = std::move(name);
  process.session = 1;
  process.creation_time = 1000 + pid;
  process.critical = false;
  process.same_user = true;
  return process;
}

class CollectionPass : public ::testing::Test {
 protected:
  CollectionPass() { script = &machine; }
  ~CollectionPass() override {
    EXPECT_EQ(machine.snapshots_open, 0) << "snapshot left open";
    EXPECT_EQ(machine.processes_open, 0) << "process handle left open";
    script = nullptr;
  }

  ProcessTable collect() { return collect_process_table(kScriptedCalls); }

  Script machine;
};

TEST_F(CollectionPass, a_snapshot_that_cannot_be_taken_gives_an_empty_table_after_the_window_pass) {
  machine.snapshot_fails = true;
  machine.processes = {fully_known(100, 4, u"worker.exe")};
  machine.visible_window_owners = {100};
  EXPECT_TRUE(collect().empty());
  EXPECT_EQ(machine.window_passes, 1);
}

TEST_F(CollectionPass, an_empty_snapshot_gives_an_empty_table_and_is_closed) {
  EXPECT_TRUE(collect().empty());
  EXPECT_EQ(machine.window_passes, 1);
}

TEST_F(CollectionPass, every_fact_of_an_opened_process_comes_from_its_query) {
  machine.processes = {fully_known(100, 40, u"Worker.exe")};
  const ProcessTable table = collect();
  ASSERT_EQ(table.size(), 1u);
  const ProcessFacts& facts = table.at(100);
  EXPECT_EQ(facts.pid, 100u);
  EXPECT_EQ(facts.parent_pid, 40u);
  EXPECT_EQ(facts.session_id, 1u);
  EXPECT_EQ(facts.creation_time, 1100u);
  EXPECT_EQ(facts.exe_name, u"Worker.exe");
  EXPECT_EQ(facts.image_path, u"C:\\Tools\\Worker.exe");
  EXPECT_EQ(facts.command_line, u"");
  EXPECT_FALSE(facts.has_visible_window);
  EXPECT_TRUE(facts.same_user);
  EXPECT_FALSE(facts.critical);
  EXPECT_TRUE(facts.critical_known);
}

TEST_F(CollectionPass, a_process_that_exited_before_it_was_opened_keeps_the_unopened_defaults) {
  ScriptedProcess gone = fully_known(100, 40, u"worker.exe");
  gone.openable = false;
  machine.processes = {gone};
  const ProcessTable table = collect();
  const ProcessFacts& facts = table.at(100);
  EXPECT_EQ(facts.parent_pid, 40u);
  EXPECT_EQ(facts.exe_name, u"worker.exe");
  EXPECT_EQ(facts.session_id, 1u);
  EXPECT_EQ(facts.creation_time, 0u);
  EXPECT_EQ(facts.image_path, u"");
  EXPECT_FALSE(facts.same_user);
  EXPECT_TRUE(facts.critical);
  EXPECT_FALSE(facts.critical_known);
}

TEST_F(CollectionPass, each_failed_query_leaves_only_its_own_field_at_the_default) {
  ScriptedProcess partial = fully_known(100, 40, u"worker.exe");
  partial.session.reset();
  partial.creation_time.reset();
  partial.image_path.reset();
  partial.critical.reset();
  machine.processes = {partial};
  const ProcessTable table = collect();
  const ProcessFacts& facts = table.at(100);
  EXPECT_EQ(facts.session_id, kUnknownSession);
  EXPECT_EQ(facts.creation_time, 0u);
  EXPECT_EQ(facts.image_path, u"");
  EXPECT_TRUE(facts.critical);
  EXPECT_FALSE(facts.critical_known);
  EXPECT_TRUE(facts.same_user);
}

TEST_F(CollectionPass, a_process_the_system_calls_critical_is_critical_and_known) {
  ScriptedProcess critical = fully_known(100, 40, u"csrss.exe");
  critical.critical = true;
  machine.processes = {critical};
  const ProcessTable table = collect();
  const ProcessFacts& facts = table.at(100);
  EXPECT_TRUE(facts.critical);
  EXPECT_TRUE(facts.critical_known);
}

TEST_F(CollectionPass, ids_zero_and_four_are_collected_like_any_other_entry) {
  ScriptedProcess idle = fully_known(0, 0, u"[System Process]");
  ScriptedProcess system = fully_known(4, 0, u"System");
  idle.openable = system.openable = false;
  machine.processes = {idle, system};
  const ProcessTable table = collect();
  ASSERT_EQ(table.size(), 2u);
  EXPECT_EQ(table.at(0).exe_name, u"[System Process]");
  EXPECT_EQ(table.at(4).exe_name, u"System");
  EXPECT_FALSE(table.at(4).critical_known);
}

TEST_F(CollectionPass, a_repeated_id_overwrites_the_earlier_entry) {
  machine.processes = {fully_known(100, 40, u"first.exe"), fully_known(100, 41, u"second.exe")};
  const ProcessTable table = collect();
  ASSERT_EQ(table.size(), 1u);
  EXPECT_EQ(table.at(100).exe_name, u"second.exe");
  EXPECT_EQ(table.at(100).parent_pid, 41u);
}

TEST_F(CollectionPass, a_parent_id_of_an_exited_process_is_kept_without_an_entry) {
  machine.processes = {fully_known(100, 77, u"orphan.exe")};
  const ProcessTable table = collect();
  EXPECT_EQ(table.at(100).parent_pid, 77u);
  EXPECT_FALSE(table.contains(77));
}

TEST_F(CollectionPass, visible_windows_mark_their_listed_owners_and_ignore_unknown_ids) {
  machine.processes = {fully_known(100, 4, u"a.exe"), fully_known(200, 4, u"b.exe")};
  machine.visible_window_owners = {200, 999, 200};
  const ProcessTable table = collect();
  EXPECT_EQ(table.size(), 2u);
  EXPECT_FALSE(table.at(100).has_visible_window);
  EXPECT_TRUE(table.at(200).has_visible_window);
  EXPECT_FALSE(table.contains(999));
}

TEST_F(CollectionPass, an_exception_inside_the_pass_leaves_no_handle_open) {
  ScriptedProcess failing = fully_known(200, 4, u"b.exe");
  failing.image_path_query_throws = true;
  machine.processes = {fully_known(100, 4, u"a.exe"), failing, fully_known(300, 4, u"c.exe")};
  EXPECT_THROW(collect(), std::bad_alloc);
  // The fixture's destructor checks that the snapshot and the process are closed.
}

TEST_F(CollectionPass, a_snapshot_with_more_processes_than_the_table_holds_confirms_none_of_them) {
  for (std::uint32_t pid = 8; machine.processes.size() <= kMaxCollectedProcesses; pid += 4) {
    machine.processes.push_back(fully_known(pid, 4, u"w.exe"));
    machine.processes.back().openable = machine.processes.size() <= 2;  // keeps the pass quick
    machine.processes.back().critical = false;
  }
  const ProcessTable table = collect();
  EXPECT_EQ(table.size(), kMaxCollectedProcesses);
  EXPECT_FALSE(table.at(8).critical_known);
  EXPECT_FALSE(table.at(12).critical_known);
}

TEST_F(CollectionPass, a_snapshot_that_fills_the_table_exactly_keeps_its_confirmations) {
  for (std::uint32_t pid = 8; machine.processes.size() < kMaxCollectedProcesses; pid += 4) {
    machine.processes.push_back(fully_known(pid, 4, u"w.exe"));
    machine.processes.back().openable = machine.processes.size() <= 2;
  }
  machine.processes.push_back(fully_known(8, 4, u"again.exe"));  // a repeated id still fits
  const ProcessTable table = collect();
  EXPECT_EQ(table.size(), kMaxCollectedProcesses);
  EXPECT_TRUE(table.at(8).critical_known);
  EXPECT_TRUE(table.at(12).critical_known);
}

}  // namespace
}  // namespace mirrow
