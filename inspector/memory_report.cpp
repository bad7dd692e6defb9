#include "inspector/memory_report.h"

#include "inspector/report_members.h"

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
  append_flag(out, "{\"system_available\":", system.available);
  append_number(out, ",\"physical_total\":", system.physical_total);
  append_number(out, ",\"physical_available\":", system.physical_available);
  append_number(out, ",\"nonpaged_pool\":", system.nonpaged_pool);
  append_number(out, ",\"paged_pool\":", system.paged_pool);
  append_number(out, ",\"system_cache\":", system.system_cache);
  append_number(out, ",\"commit_total\":", system.commit_total);
  append_number(out, ",\"commit_limit\":", system.commit_limit);
  out += ",\"processes\":[";
}

void append_memory_process(std::string& out, bool first, const ProcessFacts& facts,
                           const std::optional<ProcessMemory>& memory) {
  if (!first) out += ',';
  append_number(out, "{\"pid\":", facts.pid);
  append_number(out, ",\"parent\":", facts.parent_pid);
  append_quoted_number(out, ",\"created\":", facts.creation_time);
  append_text(out, ",\"name\":", facts.exe_name);
  append_text(out, ",\"path\":", facts.image_path);
  if (memory) {
    append_number(out, ",\"ws\":", memory->working_set);
    append_number(out, ",\"private_bytes\":", memory->private_bytes);
    append_optional_number(out, ",\"private_ws\":", memory->private_working_set);
    append_optional_number(out, ",\"shared_commit\":", memory->shared_commit);
  } else {
    out += ",\"ws\":null,\"private_bytes\":null,\"private_ws\":null,\"shared_commit\":null";
  }
  out += '}';
}

void append_memory_footer(std::string& out) { out += "]}"; }

}  // namespace mirrow::inspector
