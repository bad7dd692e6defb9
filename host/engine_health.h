#pragma once
// The engine's statistics array and diagnostics document as a short report.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace mirrow::host {

inline constexpr std::size_t kStatisticsCount = 13;
using Statistics = std::array<std::uint64_t, kStatisticsCount>;

// One "name value" line per slot, flags as yes/no.
std::string statistics_text(const Statistics& values);

// {"events":..,...,"buffers_lost":..} with the slot names as keys.
std::string statistics_json(const Statistics& values);

// The diagnostics document as "name value" lines (numbers as written,
// booleans as yes/no) and the number of unknown samples with their reasons;
// a document that cannot be read is shown as it is.
std::string diagnostics_text(std::string_view document);

}  // namespace mirrow::host
