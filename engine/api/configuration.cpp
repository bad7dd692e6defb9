#include "engine/api/configuration.h"

#include <mutex>

#include "engine/api/engine_core.h"

namespace mirrow {

// Roots and exclusions change only while the engine is stopped, and under
// replay_lock: replays and test emits classify paths against them on other
// threads, and a start reorders them under the same lock.
std::uint32_t add_root(EngineCore& engine, std::int64_t id, const char16_t* path, bool flag) {
  if (id < 1 || path == nullptr) return result_invalid;
  std::u16string spelling = spell_path(path);
  Root root{id, normalize_path(spelling), flag, std::move(spelling)};
  std::lock_guard hold(engine.replay_lock);
  if (engine.running.load()) return result_invalid;
  add_root(engine.root_set, std::move(root));
  return result_ok;
}

std::uint32_t add_exclusion(EngineCore& engine, const char16_t* path) {
  if (path == nullptr) return result_invalid;
  std::u16string exclusion = normalize_path(path);
  std::lock_guard hold(engine.replay_lock);
  if (engine.running.load()) return result_invalid;
  add_exclusion(engine.root_set, std::move(exclusion));
  return result_ok;
}

// Like the roots, under replay_lock: a replay on another host thread reads
// the flag while it decodes a create, and a start sets it under the lock.
std::uint32_t set_missing_open_tracking(EngineCore& engine, bool on) {
  std::lock_guard hold(engine.replay_lock);
  if (engine.running.load()) return result_invalid;
  engine.missing_paths.track_missing_opens = on;
  return result_ok;
}

}  // namespace mirrow
