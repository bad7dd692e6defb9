#pragma once
// The texts of `mirrowctl scan`: the progress line and the final summary,
// as aligned tables or as one JSON object.
#include <cstdint>
#include <string>
#include <string_view>

#include "host/scan_tally.h"

namespace mirrow::host {

// "scanning: 1,234 files, 5.6 MiB, 2.3 s" (no line end; the caller returns
// the cursor and pads).
std::string scan_progress_line(std::uint64_t files, std::uint64_t bytes, std::uint64_t elapsed_ms);

// How a scan went, from the scanner's way text {"way":..,"reason":..}.
struct ScanWayFacts {
  std::string way;     // "table", "walk" or "undecided"
  std::string reason;  // UTF-8: why it walked
};
ScanWayFacts parse_scan_way(std::string_view text);
// "the volume's master file table" or "walked the folders: <reason>".
std::string scan_way_line(const ScanWayFacts& way);

// Totals, errors with their samples, skipped paths, largest folders and
// files; with a way, the line saying how the scan went.
std::string scan_summary_text(const ScanTally& tally, std::uint64_t elapsed_ms, const ScanWayFacts* way = nullptr);

// {"root":..,"files":..,"bytes":..,"errors":..,"elapsed_ms":..,"samples":[..],"skipped":[..],
//  "largest_folders":[{"path":..,"bytes":..,"files":..}],"largest_files":[{"path":..,"bytes":..}]}
// with a way, followed by "way":..,"reason":..
std::string scan_summary_json(const ScanTally& tally, std::uint64_t elapsed_ms, const ScanWayFacts* way = nullptr);

}  // namespace mirrow::host
