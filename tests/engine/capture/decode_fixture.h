#pragma once
// An engine core with one root, a scripted millisecond clock and helpers to
// feed events and read back what they produced.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "common/utf16.h"
#include "engine/api/configuration.h"
#include "engine/api/engine_core.h"
#include "engine/api/host_events.h"
#include "engine/capture/binding.h"
#include "engine/capture/decoder.h"
#include "support/event_payloads.h"

namespace mirrow::test {

inline std::uint64_t scripted_now_ms = 1'000'000;
inline std::uint64_t scripted_ticks() { return scripted_now_ms; }

struct Activity {
  std::string path;
  std::uint32_t kind;
  std::uint32_t pid;
  std::uint64_t count;
  double first;
  double last;
};

class DecodeTest : public ::testing::Test {
 protected:
  static constexpr std::uint32_t own_pid = 4242;
  static constexpr std::uint32_t pid = 700;

  DecodeTest() {
    scripted_now_ms = 1'000'000;
    engine.bindings.ticks = scripted_ticks;
    engine.own_pid = own_pid;
    add_root(engine, 1, u"c:\\data", false);
  }

  void decode(std::uint16_t id, std::uint8_t version, const Bytes& payload, double t, std::uint32_t pointer_size = 8,
              std::uint32_t process_id = pid) {
    decode_event(engine.decoding, id, version, pointer_size, process_id, t, payload.data(), payload.size());
  }

  std::uint64_t counter(Counter c) const { return engine.counters.get(c); }

  void advance_ms(std::uint64_t ms) { scripted_now_ms += ms; }

  std::vector<Activity> activities() {
    std::vector<Activity> out;
    std::lock_guard guard(engine.activity.activity_lock);
    for (const auto& [key, g] : engine.activity.groups) {
      out.push_back({utf8_from_utf16(g.name->path), g.kind, g.pid, g.count, g.first, g.last});
    }
    for (const auto& g : engine.activity.ready_groups) {
      out.push_back({utf8_from_utf16(g.name->path), g.kind, g.pid, g.count, g.first, g.last});
    }
    std::sort(out.begin(), out.end(), [](const Activity& a, const Activity& b) { return a.first < b.first; });
    return out;
  }

  std::vector<std::string> sample_reasons() {
    std::vector<std::string> out;
    for (const UnknownSample& s : unknown_samples_snapshot(engine.bindings)) out.emplace_back(s.reason);
    return out;
  }

  EngineCore engine;
};

}  // namespace mirrow::test
