#pragma once
// The two health reports: the thirteen statistics values and the
// diagnostics document. The figures only Windows can give (thread times,
// watcher state, a live query of the capture session) arrive in LiveFigures.
#include <array>
#include <cstdint>
#include <string>

#include "common/json_writer.h"

namespace mirrow {

struct EngineCore;
struct UnknownSample;

struct LiveFigures {
  bool capture_live = false;
  bool watchers_healthy = false;  // running and every watcher active
  // Loss counts of the capture session answered by a live query; without
  // one, the figures saved by the last stop are reported.
  bool live_losses_known = false;
  bool live_query_failed = false;
  std::uint64_t events_lost = 0;
  std::uint64_t buffers_lost = 0;
  double etw_cpu_seconds = 0.0;
  double watch_cpu_seconds = 0.0;
};

constexpr std::size_t statistics_count = 13;
using StatisticsValues = std::array<std::uint64_t, statistics_count>;

// Lets pending attribution expire what is due, then reads the counters.
// Throws when the live session query failed.
StatisticsValues statistics_values(EngineCore& engine, const LiveFigures& live);

// Lets pending attribution expire what is due, then builds the one-line
// diagnostics object.
std::string diagnostics_document(EngineCore& engine, const LiveFigures& live);

void append_unknown_sample(JsonWriter& json, const UnknownSample& sample);

}  // namespace mirrow
