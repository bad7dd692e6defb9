#include "engine/activity/configuration.h"

#include <stdexcept>

#include "engine/api/engine_core.h"

namespace mirrow {

std::uint32_t add_root(EngineCore& engine, std::int64_t id, const char16_t* path, bool flag) {
  if (engine.running.load() || id < 1 || path == nullptr) return result_invalid;
  engine.roots.push_back(Root{id, normalize_path(path), flag});
  engine.classification.clear();
  return result_ok;
}

std::uint32_t add_exclusion(EngineCore& engine, const char16_t* path) {
  if (engine.running.load() || path == nullptr) return result_invalid;
  engine.exclusions.push_back(normalize_path(path));
  engine.classification.clear();
  return result_ok;
}

void add_missing(EngineCore& engine, const char16_t* path) {
  if (path == nullptr) throw std::invalid_argument("missing path is null");
  std::u16string normalised = normalize_path(path);
  std::lock_guard<std::mutex> guard(engine.missing_lock);
  engine.missing.insert(std::move(normalised));
}

void clear_missing(EngineCore& engine) {
  std::lock_guard<std::mutex> guard(engine.missing_lock);
  engine.missing.clear();
}

void set_probe(EngineCore& engine, const char16_t* path) {
  std::u16string normalised = normalize_path(path ? std::u16string(path) : std::u16string());
  {
    std::lock_guard<std::mutex> guard(engine.probe_lock);
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

bool is_missing(EngineCore& engine, std::u16string_view path) {
  std::lock_guard<std::mutex> guard(engine.missing_lock);
  return engine.missing.find(path) != engine.missing.end();
}

}  // namespace mirrow
