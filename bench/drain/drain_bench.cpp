// Times one full vt_drain batch: 1024 waiting groups with 128-unit paths,
// taken from the ready queue and written as text. Goal: at most 0.5 ms.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/api/native_engine.h"

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

void fill(NativeEngine& engine, const std::vector<std::u16string>& paths, int round) {
  const double base = 1764979200.0 + round * 10.0;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    engine.record(paths[i], 1 + i % 2, 4000 + static_cast<std::uint32_t>(i % 7),
                  base + static_cast<double>((i * 7919) % group_count) / 1000.0, 3);
  }
}

}  // namespace

int main() {
  NativeEngine engine;
  engine.set_own_pid(1);
  engine.add_root(1, u"c:\\data", false);
  std::vector<std::u16string> paths;
  for (std::size_t i = 0; i < group_count; ++i) paths.push_back(bench_path(i));

  std::vector<double> micros;
  std::size_t bytes = 0;
  for (int round = 0; round < rounds; ++round) {
    fill(engine, paths, round);
    const auto start = std::chrono::steady_clock::now();
    const std::string_view text = engine.drain();
    const auto stop = std::chrono::steady_clock::now();
    bytes = text.size();
    micros.push_back(std::chrono::duration<double, std::micro>(stop - start).count());
    const std::size_t left = engine.sizes().ready_groups;
    if (left != 0) {
      std::fprintf(stderr, "drain left %zu groups\n", left);
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
