#include "engine/activity/roots.h"

#include <algorithm>

namespace mirrow {

void order_roots(std::vector<Root>& roots) {
  std::stable_sort(roots.begin(), roots.end(), [](const Root& a, const Root& b) {
    if (a.flag != b.flag) return a.flag;
    return a.path.size() > b.path.size();
  });
}

std::vector<std::u16string> choose_watched_directories(const std::vector<Root>& roots) {
  std::vector<std::u16string> chosen;
  for (const Root& candidate : roots) {
    const bool nested = std::any_of(roots.begin(), roots.end(), [&](const Root& other) {
      return other.path != candidate.path && is_under(candidate.path, other.path);
    });
    if (nested) continue;
    // Two roots with the same path share one watcher.
    if (std::find(chosen.begin(), chosen.end(), candidate.path) != chosen.end()) continue;
    chosen.push_back(candidate.path);
  }
  return chosen;
}

std::u16string root_spelling(const std::vector<Root>& roots, std::u16string_view path) {
  for (const Root& root : roots) {
    if (root.path == path && !root.spelling.empty()) return root.spelling;
  }
  return std::u16string(path);
}

std::ptrdiff_t classify_index(std::u16string_view p, const std::vector<Root>& roots,
                              const std::vector<std::u16string>& exclusions) {
  if (p.size() < 3) return -1;
  if (p[1] != u':' && !p.starts_with(u"\\\\")) return -1;
  for (const std::u16string& excluded : exclusions) {
    if (is_under(p, excluded)) return -1;
  }
  for (std::size_t i = 0; i < roots.size(); ++i) {
    if (is_under(p, roots[i].path)) return static_cast<std::ptrdiff_t>(i);
  }
  return -1;
}

std::int64_t classify_uncached(std::u16string_view p, const std::vector<Root>& roots,
                               const std::vector<std::u16string>& exclusions) {
  const std::ptrdiff_t index = classify_index(p, roots, exclusions);
  return index < 0 ? 0 : roots[static_cast<std::size_t>(index)].id;
}

std::int64_t ClassificationCache::classify(std::u16string_view p, const std::vector<Root>& roots,
                                           const std::vector<std::u16string>& exclusions) {
  std::lock_guard<std::mutex> guard(lock_);
  if (auto it = entries_.find(p); it != entries_.end()) return it->second;
  const std::int64_t id = classify_uncached(p, roots, exclusions);
  if (entries_.size() >= capacity) entries_.clear();
  entries_.emplace(std::u16string(p), id);
  return id;
}

void ClassificationCache::clear() {
  std::lock_guard<std::mutex> guard(lock_);
  entries_.clear();
  std::uint32_t next = generation_.load(std::memory_order_relaxed) + 1;
  if (next == 0) next = 1;
  generation_.store(next, std::memory_order_release);
}

std::size_t ClassificationCache::size() {
  std::lock_guard<std::mutex> guard(lock_);
  return entries_.size();
}

void add_root(RootSet& set, Root root) {
  // Roots that normalise alike are one directory to the system: the first
  // spelling stays, whichever of them a start puts first.
  for (const Root& earlier : set.roots) {
    if (earlier.path == root.path) {
      root.spelling = earlier.spelling;
      break;
    }
  }
  set.roots.push_back(std::move(root));
  set.classification.clear();
}

void add_exclusion(RootSet& set, std::u16string exclusion) {
  set.exclusions.push_back(std::move(exclusion));
  set.classification.clear();
}

void prepare_roots_for_start(RootSet& set) {
  order_roots(set.roots);
  set.classification.clear();
}

std::int64_t classify_path(RootSet& set, std::u16string_view path) {
  return set.classification.classify(path, set.roots, set.exclusions);
}

std::int64_t classify_name(const RootSet& set, const Name& name) {
  // Roots and exclusions change only while the engine is stopped, and every
  // change moves the generation on, so a memo of the same generation always
  // holds the answer the full rule would give.
  const std::uint64_t generation = set.classification.generation();
  const std::uint64_t memo = name.classification.load(std::memory_order_relaxed);
  if ((memo >> 32) == generation) {
    const std::uint32_t code = static_cast<std::uint32_t>(memo);
    return code == 0 ? 0 : set.roots[code - 1].id;
  }
  const std::ptrdiff_t index = classify_index(name.path, set.roots, set.exclusions);
  if (index >= 0xFFFFFFFF) return set.roots[static_cast<std::size_t>(index)].id;  // too far to remember
  const std::uint32_t code = index < 0 ? 0 : static_cast<std::uint32_t>(index + 1);
  name.classification.store((generation << 32) | code, std::memory_order_relaxed);
  return code == 0 ? 0 : set.roots[code - 1].id;
}

}  // namespace mirrow
