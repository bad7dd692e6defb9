#pragma once
// The texts of `mirrowctl scan`: the progress line and the final summary,
// as aligned tables or as one JSON object.
#include <cstdint>
#include <string>

#include "host/scan_tally.h"

namespace mirrow::host {

// "scanning: 1,234 files, 5.6 MiB, 2.3 s" (no line end; the caller returns
// the cursor and pads).
std::string scan_progress_line(std::uint64_t files, std::uint64_t bytes, std::uint64_t elapsed_ms);

// Totals, errors with their samples, skipped paths, largest folders and files.
std::string scan_summary_text(const ScanTally& tally, std::uint64_t elapsed_ms);

// {"root":..,"files":..,"bytes":..,"errors":..,"elapsed_ms":..,"samples":[..],"skipped":[..],
//  "largest_folders":[{"path":..,"bytes":..,"files":..}],"largest_files":[{"path":..,"bytes":..}]}
std::string scan_summary_json(const ScanTally& tally, std::uint64_t elapsed_ms);

}  // namespace mirrow::host
