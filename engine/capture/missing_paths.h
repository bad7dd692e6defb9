#pragma once
// The paths the host watches for appearance, and whether the decoder
// tracks the opens of them that fail as not found.
#include <mutex>
#include <string>
#include <string_view>

#include "common/flat_map.h"
#include "common/paths.h"
#include "engine/capture/missing_filter.h"

namespace mirrow {

struct MissingPaths {
  // Changes only while the engine is stopped, under its replay lock: a
  // replay on another host thread reads it while it decodes a create.
  bool track_missing_opens = false;

  std::mutex missing_lock;
  // The paths the host watches for appearance (the value is unused).
  FlatMap<std::u16string, bool, PathHash, PathEqual> missing;
  // Answers most questions about missing without its lock.
  MissingFilter missing_filter;
};

// Throws std::invalid_argument for a null path.
void add_missing(MissingPaths& paths, const char16_t* path);
void clear_missing(MissingPaths& paths);
bool is_missing(MissingPaths& paths, std::u16string_view path);

}  // namespace mirrow
