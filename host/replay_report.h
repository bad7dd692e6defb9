#pragma once
// What mirrowctl replay makes of vt_replay_file's report: a few lines before
// the activity, the one JSON object of --json, and the --device options
// joined as the export takes them.
#include <string>
#include <string_view>
#include <vector>

#include "host/engine_health.h"

namespace mirrow::host {

// "replayed FILE: N events read, M skipped" and which device map named the
// files (with its entries), then one line per skipped sample (UTF-8).
std::string replay_summary_text(std::string_view report);

// The report's "problem", when the replay was refused (UTF-8); empty otherwise.
std::string replay_problem(std::string_view report);

// {"file","events_read","events_skipped","device_map","activity","statistics","diagnostics"}:
// the report's figures, every record of the drain batches in one array, the
// statistics by name and the diagnostics document as it came (null when empty).
std::string replay_json(std::string_view report, const std::vector<std::string>& batches,
                        const Statistics& statistics, std::string_view diagnostics);

// The --device entries, one per line.
std::u16string device_entries(const std::vector<std::u16string>& devices);

}  // namespace mirrow::host
