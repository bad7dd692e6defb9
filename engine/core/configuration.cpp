#include "engine/core/configuration.h"

#include <stdexcept>

#include "engine/core/engine_core.h"
#include "engine/core/names.h"

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
  // Roots that normalise alike are one directory to the system: the first
  // spelling stays, whichever of them a start puts first.
  for (const Root& earlier : engine.roots) {
    if (earlier.path == root.path) {
      root.spelling = earlier.spelling;
      break;
    }
  }
  engine.roots.push_back(std::move(root));
  engine.classification.clear();
  return result_ok;
}

std::uint32_t add_exclusion(EngineCore& engine, const char16_t* path) {
  if (path == nullptr) return result_invalid;
  std::u16string exclusion = normalize_path(path);
  std::lock_guard hold(engine.replay_lock);
  if (engine.running.load()) return result_invalid;
  engine.exclusions.push_back(std::move(exclusion));
  engine.classification.clear();
  return result_ok;
}

// Like the roots, under replay_lock: a replay on another host thread reads
// the flag while it decodes a create, and a start sets it under the lock.
std::uint32_t set_missing_open_tracking(EngineCore& engine, bool on) {
  std::lock_guard hold(engine.replay_lock);
  if (engine.running.load()) return result_invalid;
  engine.track_missing_opens = on;
  return result_ok;
}

void add_missing(EngineCore& engine, const char16_t* path) {
  if (path == nullptr) throw std::invalid_argument("missing path is null");
  std::u16string normalised = normalize_path(path);
  const std::uint64_t hash = path_hash(normalised);
  std::lock_guard<std::mutex> guard(engine.missing_lock);
  engine.missing.emplace(std::move(normalised), hash, true);
  engine.missing_filter.add(hash);
}

void clear_missing(EngineCore& engine) {
  std::lock_guard<std::mutex> guard(engine.missing_lock);
  engine.missing.clear();
  engine.missing_filter.clear();
}

void set_probe(EngineCore& engine, const char16_t* path) {
  std::u16string normalised = normalize_path(path ? std::u16string(path) : std::u16string());
  {
    std::lock_guard<std::mutex> guard(engine.probe_lock);
    engine.probe_hash.store(path_hash(normalised), std::memory_order_relaxed);
    engine.probe_path = std::move(normalised);
  }
  engine.probe_seen.store(false);
}

void prepare_roots_for_start(EngineCore& engine) {
  order_roots(engine.roots);
  engine.classification.clear();
}

std::int64_t classify_path(EngineCore& engine, std::u16string_view path) {
  return engine.classification.classify(path, engine.roots, engine.exclusions);
}

std::int64_t classify_name(EngineCore& engine, const Name& name) {
  // Roots and exclusions change only while the engine is stopped, and every
  // change moves the generation on, so a memo of the same generation always
  // holds the answer the full rule would give.
  const std::uint64_t generation = engine.classification.generation();
  const std::uint64_t memo = name.classification.load(std::memory_order_relaxed);
  if ((memo >> 32) == generation) {
    const std::uint32_t code = static_cast<std::uint32_t>(memo);
    return code == 0 ? 0 : engine.roots[code - 1].id;
  }
  const std::ptrdiff_t index = classify_index(name.path, engine.roots, engine.exclusions);
  if (index >= 0xFFFFFFFF) return engine.roots[static_cast<std::size_t>(index)].id;  // too far to remember
  const std::uint32_t code = index < 0 ? 0 : static_cast<std::uint32_t>(index + 1);
  name.classification.store((generation << 32) | code, std::memory_order_relaxed);
  return code == 0 ? 0 : engine.roots[code - 1].id;
}

bool is_missing(EngineCore& engine, std::u16string_view path) {
  std::lock_guard<std::mutex> guard(engine.missing_lock);
  return engine.missing.find(path) != nullptr;
}

}  // namespace mirrow
