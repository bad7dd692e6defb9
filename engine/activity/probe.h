#pragma once
// The probe: a path the host reads once the engine runs, so that a read of
// exactly that path proves that capture works.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "engine/core/names.h"

namespace mirrow {

struct Probe {
  std::mutex probe_lock;
  std::u16string probe_path;
  // path_hash of probe_path, written with it: a read whose name hashes
  // otherwise is not the probe, and needs no lock to know it.
  std::atomic<std::uint64_t> probe_hash{0};
  std::atomic<bool> probe_seen{false};
};

// Null clears the probe; any call clears probe_seen.
void set_probe(Probe& probe, const char16_t* path);

// The probe path compared under the lock, for a name of the probe's hash.
void note_probe_match(Probe& probe, const Name& name);

// Notes a read (kind 1) of exactly the probe path. Inline: every recorded
// activity asks, and nearly every one is settled by the first tests.
inline void note_probe_read(Probe& probe, const Name& name, std::uint32_t kind) {
  if (kind != 1 || probe.probe_seen.load(std::memory_order_relaxed)) return;
  // Only a name whose hash is the probe's can be the probe: every other read
  // is settled without the lock.
  if (name.hash != probe.probe_hash.load(std::memory_order_relaxed)) return;
  note_probe_match(probe, name);
}

}  // namespace mirrow
