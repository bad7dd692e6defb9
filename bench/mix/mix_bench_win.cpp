// The build-like mix through Vantrel.dll, bound by name as a host binds it:
// every event through vt_replay, and vt_drain until a batch comes back empty
// every 16,384 events. Prints the CPU time per event of the replays alone and
// with the drains.
#include <chrono>
#include <cstdio>

#include "bench/mix/mix_workload.h"
#include "tests/support/vantrel_api.h"

using namespace mirrow::bench;
using mirrow::testing::vantrel;

namespace {

double thread_cpu_seconds() {
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0.0;
  auto units = [](const FILETIME& f) { return (static_cast<ULONGLONG>(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
  return static_cast<double>(units(kernel) + units(user)) * 1e-7;
}

std::uint64_t drain_until_empty(vt_engine* engine, MixFigures& figures) {
  std::uint64_t records = 0;
  for (;;) {
    uint64_t length = 0;
    const char* text = vantrel().vt_drain(engine, &length);
    ++figures.drains;
    const std::uint64_t got = mix_drained_records(text, length);
    if (got == 0) return records;
    records += got;
  }
}

}  // namespace

int main(int argc, char** argv) {
  MixOptions options;
  options.events = 2097152;
  if (!parse_mix_options(argc, argv, options)) return 2;
  const MixWorkload workload;

  vt_engine* engine = vantrel().vt_create();
  if (engine == nullptr) return 1;
  vantrel().vt_root(engine, 1, reinterpret_cast<const wchar_t*>(mix_root), 0);
  vantrel().vt_probe(engine, reinterpret_cast<const wchar_t*>(mix_probe));

  MixFigures figures;
  std::uint32_t refused = 0;
  const auto wall_start = std::chrono::steady_clock::now();
  std::uint64_t since_drain = 0;
  for (std::uint64_t pass = 0; figures.events < options.events; ++pass) {
    const double start = MixWorkload::pass_start(pass);
    const double cpu_start = thread_cpu_seconds();
    for (const MixEvent& e : workload.events()) {
      if (figures.events == options.events) break;
      refused += vantrel().vt_replay(engine, e.id, e.version, 8, e.pid, start + e.offset, workload.payload(e),
                                     e.length) != 0;
      ++figures.events;
      if (++since_drain == options.drain_every) {
        since_drain = 0;
        const double drain_start = thread_cpu_seconds();
        figures.records += drain_until_empty(engine, figures);
        figures.drain_cpu += thread_cpu_seconds() - drain_start;
      }
    }
    figures.replay_cpu += thread_cpu_seconds() - cpu_start;
  }
  figures.replay_cpu -= figures.drain_cpu;
  figures.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
  print_mix_figures("mix (vt_replay)", figures);
  uint64_t stats[13] = {};
  vantrel().vt_stats(engine, stats, 13);
  std::printf("events %llu, errors %llu, unattributed %llu, dropped %llu, refused %u\n",
              static_cast<unsigned long long>(stats[0]), static_cast<unsigned long long>(stats[1]),
              static_cast<unsigned long long>(stats[2]), static_cast<unsigned long long>(stats[5]), refused);
  vantrel().vt_destroy(engine);
  return refused == 0 ? 0 : 1;
}
