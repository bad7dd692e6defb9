// Memory under a flood of distinct files through Vantrel.dll, bound by name
// as a host binds it: the flood's events go in one vt_replay_many call each
// (the classic name events as NameCreate), vt_drain runs every so many
// events (or never, with --no-drain), and every million events a line shows
// the working set, its peak and the private commit from
// GetProcessMemoryInfo. Goal: peak at most 160 MiB.
#include <windows.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>

#include "bench/flood/flood_workload.h"
#include "common/file_time.h"
#include "common/filetime_win.h"
#include "support/vantrel_api.h"

using namespace mirrow;
using namespace mirrow::bench;
using mirrow::testing::vantrel;

namespace {

PROCESS_MEMORY_COUNTERS memory_counters() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) counters = {};
  return counters;
}

std::int64_t filetime_now() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  return static_cast<std::int64_t>(filetime_value(now));
}

// One host drain tick: batches until one comes back empty, bounded.
std::uint64_t drain_tick(vt_engine* engine) {
  std::uint64_t records = 0;
  for (int i = 0; i < drain_batches_per_tick; ++i) {
    std::uint64_t length = 0;
    const char* text = vantrel().vt_drain(engine, &length);
    const std::uint64_t got = drained_records(text, length);
    if (got == 0) break;
    records += got;
  }
  return records;
}

struct Stats {
  std::uint64_t values[13] = {};
  std::uint64_t events() const { return values[0]; }
  std::uint64_t errors() const { return values[1]; }
  std::uint64_t unattributed() const { return values[2]; }
  std::uint64_t dropped() const { return values[5]; }
};

Stats stats_of(vt_engine* engine) {
  Stats s;
  vantrel().vt_stats(engine, s.values, 13);
  return s;
}

void print_line(vt_engine* engine, std::uint64_t events, std::uint64_t handed_out) {
  const PROCESS_MEMORY_COUNTERS m = memory_counters();
  const Stats s = stats_of(engine);
  std::printf(
      "%5.1f M events: working set %6.1f MiB, peak %6.1f MiB, private %6.1f MiB | handed out %llu | "
      "dropped %llu, unattributed %llu, errors %llu\n",
      static_cast<double>(events) / 1e6, mib(m.WorkingSetSize), mib(m.PeakWorkingSetSize), mib(m.PagefileUsage),
      static_cast<unsigned long long>(handed_out), static_cast<unsigned long long>(s.dropped()),
      static_cast<unsigned long long>(s.unattributed()), static_cast<unsigned long long>(s.errors()));
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  FloodOptions options;
  if (!parse_flood_options(argc, argv, options)) return 2;

  const double before = mib(memory_counters().WorkingSetSize);
  vt_engine* engine = vantrel().vt_create();
  if (engine == nullptr) return 1;
  const double loaded = mib(memory_counters().WorkingSetSize);
  vantrel().vt_root(engine, 1, L"C:\\Data", 0);
  vantrel().vt_test_recovery(engine, options.missing_paths != 0 ? 1 : 0);
  for (std::uint64_t i = 0; i < options.missing_paths; ++i) {
    const std::u16string path = missing_path(i);
    vantrel().vt_missing(engine, reinterpret_cast<const wchar_t*>(path.c_str()));
  }
  std::printf("flood (vt_replay_many): %llu events, %s, %zu-unit paths, %llu watched missing paths\n",
              static_cast<unsigned long long>(options.events),
              options.drain_every == 0 ? "no drain" : ("drain every " + std::to_string(options.drain_every) +
                                                       " events").c_str(),
              options.path_units, static_cast<unsigned long long>(options.missing_paths));
  std::printf("working set before the library %.1f MiB, with the library and an engine %.1f MiB, after "
              "configuring it %.1f MiB\n",
              before, loaded, mib(memory_counters().WorkingSetSize));

  FloodWorkload workload(options, filetime_now());
  std::uint64_t handed_out = 0, refused = 0;
  const auto start = std::chrono::steady_clock::now();
  for (std::uint64_t n = 1; n <= options.events; ++n) {
    const FloodEvent e = workload.next();
    const std::uint16_t id = e.classic ? 10 : e.id;  // a classic name event carries a NameCreate's payload
    const std::uint8_t version = e.classic ? 0 : e.version;
    if (vantrel().vt_replay_many(engine, id, version, 8, e.pid, unix_seconds_from_filetime(e.filetime), e.payload.data(),
                                 e.payload.size(), 1) != 0) {
      ++refused;
    }
    if (options.drain_every != 0 && n % options.drain_every == 0) handed_out += drain_tick(engine);
    if (n % 1000000 == 0) print_line(engine, n, handed_out);
  }
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  const PROCESS_MEMORY_COUNTERS m = memory_counters();
  std::printf("done: wall %.2f s (%.0f events/s), payloads built included; refused replays %llu\n", wall,
              static_cast<double>(options.events) / wall, static_cast<unsigned long long>(refused));
  std::printf("peak working set %.1f MiB (goal: at most 160 MiB), working set at the end %.1f MiB, "
              "groups handed out %llu\n",
              mib(m.PeakWorkingSetSize), mib(m.WorkingSetSize), static_cast<unsigned long long>(handed_out));
  std::uint64_t length = 0;
  const char* diagnostics = vantrel().vt_diagnostics(engine, &length);
  std::printf("diagnostics: %s\n", diagnostics != nullptr ? diagnostics : "(failed)");
  vantrel().vt_destroy(engine);
  return 0;
}
