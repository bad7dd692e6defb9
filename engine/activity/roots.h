#pragma once
// Roots, exclusions and the classification of a path to the id of the root
// that reports it (0: not reported).
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/paths.h"
#include "engine/core/names.h"

namespace mirrow {

struct Root {
  std::int64_t id = 0;
  std::u16string path;  // normalised
  bool flag = false;    // flagged roots are matched before unflagged ones
  // The path as the host spelled it (spell_path), which the watcher hands
  // to the system; empty means the normalised path serves.
  std::u16string spelling{};
};

// The spelling of the first root whose normalised path is path, so that
// roots that normalise alike are watched as one directory; path itself
// when no such root has a spelling.
std::u16string root_spelling(const std::vector<Root>& roots, std::u16string_view path);

// Flagged first, then longer paths first, so the first match is the most
// specific root of the highest priority.
void order_roots(std::vector<Root>& roots);

// The roots that get a watcher: those not inside another root with a
// different path, in roots order.
std::vector<std::u16string> choose_watched_directories(const std::vector<Root>& roots);

// Index into roots of the root that reports p, or -1 when none does.
std::ptrdiff_t classify_index(std::u16string_view p, const std::vector<Root>& roots,
                              const std::vector<std::u16string>& exclusions);

// The uncached classification rule.
std::int64_t classify_uncached(std::u16string_view p, const std::vector<Root>& roots,
                               const std::vector<std::u16string>& exclusions);

// Cache of classification results, emptied whole when it reaches its cap.
class ClassificationCache {
 public:
  static constexpr std::size_t capacity = 16384;

  std::int64_t classify(std::u16string_view p, const std::vector<Root>& roots,
                        const std::vector<std::u16string>& exclusions);
  // Called whenever roots or exclusions change or roots are reordered, so
  // that no path keeps a result computed under the old configuration.
  void clear();
  std::size_t size();
  // Changes whenever clear() runs, so results remembered elsewhere under an
  // older generation are known to be stale. Never 0.
  std::uint32_t generation() const noexcept { return generation_.load(std::memory_order_acquire); }

 private:
  std::atomic<std::uint32_t> generation_{1};
  std::mutex lock_;
  std::unordered_map<std::u16string, std::int64_t, PathHash, std::equal_to<>> entries_;
};

// What an engine reports: its roots and exclusions, which change only while
// the engine is stopped, and the cached classification under them.
struct RootSet {
  std::vector<Root> roots;
  std::vector<std::u16string> exclusions;
  ClassificationCache classification;
};

// Adds a root; of roots that normalise alike, the first spelling stays.
// Forgets cached results.
void add_root(RootSet& set, Root root);
// Adds a normalised exclusion; forgets cached results.
void add_exclusion(RootSet& set, std::u16string exclusion);

// Classification order for a run; also forgets cached results.
void prepare_roots_for_start(RootSet& set);

// Root id of a normalised path, 0 when it is not reported.
std::int64_t classify_path(RootSet& set, std::u16string_view path);

// classify_path for an interned name, remembered on the name until the
// configuration changes.
std::int64_t classify_name(const RootSet& set, const Name& name);

}  // namespace mirrow
