#include "engine/activity/probe.h"

#include "common/paths.h"

namespace mirrow {

void set_probe(Probe& probe, const char16_t* path) {
  std::u16string normalised = normalize_path(path ? std::u16string(path) : std::u16string());
  {
    std::lock_guard<std::mutex> guard(probe.probe_lock);
    probe.probe_hash.store(path_hash(normalised), std::memory_order_relaxed);
    probe.probe_path = std::move(normalised);
  }
  probe.probe_seen.store(false);
}

void note_probe_match(Probe& probe, const Name& name) {
  std::lock_guard lock(probe.probe_lock);
  if (!probe.probe_path.empty() && probe.probe_path == name.path) probe.probe_seen.store(true);
}

}  // namespace mirrow
