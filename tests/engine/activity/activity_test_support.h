#pragma once
// An engine core with one root, c:\data (id 3), as the aggregation, drain
// and report tests use it.
#include <memory>
#include <string>

#include "engine/activity/aggregation.h"
#include "engine/api/configuration.h"
#include "engine/activity/drain_format.h"
#include "engine/api/engine_core.h"
#include "engine/api/host_events.h"

namespace mirrow::testing_support {

constexpr std::uint32_t own_pid = 777;

inline std::unique_ptr<EngineCore> engine_with_data_root() {
  auto engine = std::make_unique<EngineCore>();
  engine->own_pid = own_pid;
  add_root(*engine, 3, u"c:\\data", false);
  return engine;
}

// Interns path and records one event of it.
inline void record(EngineCore& engine, const std::u16string& path, std::uint32_t kind, std::uint32_t pid,
                   double first, std::uint64_t count = 1, double last = 0.0) {
  engine.recorder.record(intern_name(engine.names, engine.counters, path), kind, pid, first, nullptr, count, last);
}

inline std::string drain(EngineCore& engine) { return drain_activity(engine.activity); }

// Number of records in a drain text (each record opens with "[" after "[" or ",").
inline std::size_t record_count(const std::string& text) {
  std::size_t n = 0;
  for (std::size_t i = 1; i < text.size(); ++i) {
    if (text[i] == '[' && (text[i - 1] == '[' || text[i - 1] == ',')) ++n;
  }
  return n;
}

}  // namespace mirrow::testing_support
