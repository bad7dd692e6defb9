#pragma once
// The kinds of activity the engine records and hands out in its drain
// records. The values are those of the public header; the checks below keep
// the two lists from drifting apart.
#include <cstdint>

#include "vantrel.h"

namespace mirrow {

enum ActivityKind : std::uint32_t {
  kind_read = 1,
  kind_write = 2,
  kind_created = 3,
  kind_deleted = 4,
  kind_renamed = 5,
  kind_missing_open = 6,  // an open of a watched missing path failed as not found
  kind_added = 7,
  kind_modified = 8,
  kind_removed = 9,
  kind_renamed_to = 10,  // a watcher rename: old and new path
};

static_assert(kind_read == static_cast<std::uint32_t>(VT_KIND_READ));
static_assert(kind_write == static_cast<std::uint32_t>(VT_KIND_WRITE));
static_assert(kind_created == static_cast<std::uint32_t>(VT_KIND_CREATED));
static_assert(kind_deleted == static_cast<std::uint32_t>(VT_KIND_DELETED));
static_assert(kind_renamed == static_cast<std::uint32_t>(VT_KIND_RENAMED));
static_assert(kind_missing_open == static_cast<std::uint32_t>(VT_KIND_MISSING_OPEN));
static_assert(kind_added == static_cast<std::uint32_t>(VT_KIND_ADDED));
static_assert(kind_modified == static_cast<std::uint32_t>(VT_KIND_MODIFIED));
static_assert(kind_removed == static_cast<std::uint32_t>(VT_KIND_REMOVED));
static_assert(kind_renamed_to == static_cast<std::uint32_t>(VT_KIND_RENAMED_TO));

}  // namespace mirrow
