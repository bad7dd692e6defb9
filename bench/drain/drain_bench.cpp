// Times one full vt_drain batch: 1024 waiting groups with 128-unit paths,
// taken from the ready queue and written as text. Goal: at most 0.5 ms.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/activity/aggregation.h"
#include "engine/core/configuration.h"
#include "engine/activity/drain_format.h"
#include "engine/core/engine_core.h"

namespace {

using namespace mirrow;

constexpr std::size_t group_count = 1024;
constexpr std::size_t path_units = 128;
constexpr int rounds = 300;

std::u16string bench_path(std::size_t i) {
  std::u16string p = u"c:\\data\\folder\\";
  for (char c : std::to_string(i)) p += static_cast<char16_t>(c);
  p += u'_';
  while (p.size() < path_units) p += static_cast<char16_t>(u'a' + p.size() % 26);
  return p;
}

void fill(EngineCore& engine, const std::vector<NameRef>& names, int round) {
  const double base = 1764979200.0 + round * 10.0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    record_activity(engine, names[i], 1 + i % 2, 4000 + static_cast<std::uint32_t>(i % 7),
                    base + static_cast<double>((i * 7919) % group_count) / 1000.0, nullptr, 3, 0.0);
  }
}

}  // namespace

int main() {
  EngineCore engine;
  engine.own_pid = 1;
  add_root(engine, 1, u"c:\\data", false);
  std::vector<NameRef> names;
  for (std::size_t i = 0; i < group_count; ++i) names.push_back(intern_name(engine, bench_path(i)));

  std::vector<double> micros;
  std::size_t bytes = 0;
  for (int round = 0; round < rounds; ++round) {
    fill(engine, names, round);
    const auto start = std::chrono::steady_clock::now();
    const std::string& text = drain_activity(engine);
    const auto stop = std::chrono::steady_clock::now();
    bytes = text.size();
    micros.push_back(std::chrono::duration<double, std::micro>(stop - start).count());
    if (engine.activity.ready_groups.size() != 0) {
      std::fprintf(stderr, "drain left %zu groups\n", engine.activity.ready_groups.size());
      return 1;
    }
  }
  std::sort(micros.begin(), micros.end());
  const double median = micros[micros.size() / 2];
  std::printf("drain of %zu groups, %zu-unit paths: %zu bytes\n", group_count, path_units, bytes);
  std::printf("time per drain: median %.1f us, best %.1f us, worst %.1f us (goal 500 us)\n", median, micros.front(),
              micros.back());
  std::printf("throughput at the median: %.1f MB/s\n", static_cast<double>(bytes) / median);
  return median <= 500.0 ? 0 : 2;
}
