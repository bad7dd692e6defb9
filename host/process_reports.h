#pragma once
// Telvyn's four reports as tables for people. Each returns nothing when the
// text is not the report it should be; the caller then shows it raw.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mirrow::host {

// PID, PARENT, SESSION, UI, SAME USER, NAME and the freeze verdict in UTF-8
// ("may be frozen" when nothing stands against it).
std::optional<std::string> process_table(std::string_view snapshot);

// The system figures, then the processes by working set, largest first.
std::optional<std::string> memory_table(std::string_view report);

// "CPU load: 12.3 %, 87 processes" or, on the first sample,
// "CPU load: measuring (first sample), 87 processes".
std::optional<std::string> load_line(std::string_view report);

// One row per event (local time, id, channel, provider) and one line per
// log that could not be read.
std::optional<std::string> crash_table(std::string_view report, std::int64_t utc_offset_seconds);

}  // namespace mirrow::host
