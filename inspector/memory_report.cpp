#include "inspector/memory_report.h"

#include "common/json_writer.h"

namespace mirrow::inspector {
ProcessMemory reported_memory(const MemoryCounters& counters) {
  ProcessMemory memory;
  memory.working_set = counters.working_set;
  memory.private_bytes = counters.private_usage;
  if (counters.extended) {
    if (counters.private_working_set <= counters.working_set) memory.private_working_set = counters.private_working_set;
    memory.shared_commit = counters.shared_commit;
  }
  return memory;
}

void append_memory_header(std::string& out, const SystemMemory& system) {
  JsonWriter(out)
      .begin_object()
      .key("system_available").flag(system.available)
      .key("physical_total").u64(system.physical_total)
      .key("physical_available").u64(system.physical_available)
      .key("nonpaged_pool").u64(system.nonpaged_pool)
      .key("paged_pool").u64(system.paged_pool)
      .key("system_cache").u64(system.system_cache)
      .key("commit_total").u64(system.commit_total)
      .key("commit_limit").u64(system.commit_limit)
      .key("processes").begin_array();
}

void append_memory_process(std::string& out, bool first, const ProcessFacts& facts,
                           const std::optional<ProcessMemory>& memory) {
  JsonWriter json(out, !first);
  json.begin_object()
      .key("pid").u64(facts.pid)
      .key("parent").u64(facts.parent_pid)
      .key("created").quoted_u64(facts.creation_time)
      .key("name").text(facts.exe_name)
      .key("path").text(facts.image_path);
  if (memory) {
    json.key("ws").u64(memory->working_set)
        .key("private_bytes").u64(memory->private_bytes)
        .key("private_ws").optional_u64(memory->private_working_set)
        .key("shared_commit").optional_u64(memory->shared_commit);
  } else {
    json.key("ws").null().key("private_bytes").null().key("private_ws").null().key("shared_commit").null();
  }
  json.end_object();
}

void append_memory_footer(std::string& out) { out += "]}"; }

}  // namespace mirrow::inspector
