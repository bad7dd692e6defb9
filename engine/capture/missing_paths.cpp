#include "engine/capture/missing_paths.h"

#include <stdexcept>

namespace mirrow {

void add_missing(MissingPaths& paths, const char16_t* path) {
  if (path == nullptr) throw std::invalid_argument("missing path is null");
  std::u16string normalised = normalize_path(path);
  const std::uint64_t hash = path_hash(normalised);
  std::lock_guard<std::mutex> guard(paths.missing_lock);
  paths.missing.emplace(std::move(normalised), hash, true);
  paths.missing_filter.add(hash);
}

void clear_missing(MissingPaths& paths) {
  std::lock_guard<std::mutex> guard(paths.missing_lock);
  paths.missing.clear();
  paths.missing_filter.clear();
}

bool is_missing(MissingPaths& paths, std::u16string_view path) {
  std::lock_guard<std::mutex> guard(paths.missing_lock);
  return paths.missing.find(path) != nullptr;
}

}  // namespace mirrow
