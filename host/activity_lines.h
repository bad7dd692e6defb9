#pragma once
// Drain batches of the engine as lines for people: local time, kind as a
// word, process id, path (with its new path for a watcher rename) and count.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mirrow::host {

struct ActivityRecord {
  double first = 0;
  std::int64_t root_id = 0;
  std::u16string path;
  std::uint32_t kind = 0;
  std::uint32_t pid = 0;
  std::u16string new_path;
  std::uint64_t count = 0;
  double last = 0;
};

// The records of one drain text; nothing when the text is not a drain batch.
// A record of the wrong shape is skipped and counted in `malformed`.
struct DrainBatch {
  std::vector<ActivityRecord> records;
  std::uint64_t malformed = 0;
};
std::optional<DrainBatch> parse_drain(std::string_view text);

// "read", "write", "created", "deleted", "renamed", "missing-open", "added",
// "modified", "removed", "renamed→"; "kind-N" for anything else.
std::string kind_word(std::uint32_t kind);

// "12:34:56  write         4242  c:\data\report.txt  ×7" (UTF-8, no line end)
std::string activity_line(const ActivityRecord& record, std::int64_t utc_offset_seconds);

}  // namespace mirrow::host
