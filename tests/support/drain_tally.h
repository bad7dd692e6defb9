#pragma once
// Reads a drain text with the strict JSON reader, tells a torn or malformed
// one from a well-formed one, and adds up the counts of its records by
// process, so that concurrency tests can check that nothing is lost or
// counted twice. Records are [first,root,"path",kind,pid,"second",count,last].
#include <cstdint>
#include <map>
#include <string>

#include "support/strict_json.h"

namespace mirrow::testing {

struct DrainTally {
  bool well_formed = false;
  std::uint64_t records = 0;
  std::uint64_t total = 0;                         // sum of the counts
  std::map<std::uint64_t, std::uint64_t> by_pid;  // pid -> sum of its counts
};

inline DrainTally tally_drain(const std::string& text) {
  using Kind = JsonValue::Kind;
  constexpr Kind shape[8] = {Kind::number, Kind::number, Kind::string, Kind::number,
                             Kind::number, Kind::string, Kind::number, Kind::number};
  DrainTally t;
  const auto parsed = parse_strict_json(text);
  if (!parsed || parsed->kind != Kind::array) return t;
  for (const JsonValue& record : parsed->items) {
    if (record.kind != Kind::array || record.items.size() != 8) return t;
    for (int i = 0; i < 8; ++i) {
      if (record.items[i].kind != shape[i]) return t;
    }
    const std::uint64_t pid = std::stoull(record.items[4].literal);
    const std::uint64_t count = std::stoull(record.items[6].literal);
    ++t.records;
    t.total += count;
    t.by_pid[pid] += count;
  }
  t.well_formed = true;
  return t;
}

// True when a diagnostics text is one JSON object with its unknown samples.
inline bool diagnostics_well_formed(const std::string& text) {
  using Kind = JsonValue::Kind;
  const auto parsed = parse_strict_json(text);
  return parsed && parsed->kind == Kind::object && (*parsed)["unknown_samples"].kind == Kind::array;
}

}  // namespace mirrow::testing
