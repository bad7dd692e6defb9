// The build-like mix through Vantrel.dll, bound by name as a host binds it:
// every event through vt_replay, and vt_drain until a batch comes back empty
// every 16,384 events. Prints the CPU time per event of the replays alone and
// with the drains.
#include <cstdio>

#include "bench/mix/mix_workload.h"
#include "bench/thread_cpu.h"
#include "support/vantrel_api.h"

using namespace mirrow::bench;
using mirrow::testing::vantrel;

int main(int argc, char** argv) {
  MixOptions options;
  // The thread times Windows keeps advance in steps of about 15.6 ms: a run of
  // a second or more keeps that step within a percent or two of the figures.
  options.events = 8388608;
  if (!parse_mix_options(argc, argv, options)) return 2;
  const MixWorkload workload;

  vt_engine* engine = vantrel().vt_create();
  if (engine == nullptr) return 1;
  vantrel().vt_root(engine, 1, reinterpret_cast<const wchar_t*>(mix_root), 0);
  vantrel().vt_probe(engine, reinterpret_cast<const wchar_t*>(mix_probe));

  std::uint32_t refused = 0;
  const MixFigures figures = run_mix(
      options, workload, thread_cpu_seconds,
      [&](const MixEvent& e, double start) {
        refused += vantrel().vt_replay(engine, e.id, e.version, 8, e.pid, start + e.offset, workload.payload(e),
                                       e.length) != 0;
      },
      [&] {
        uint64_t length = 0;
        return vantrel().vt_drain(engine, &length) != nullptr && length > 2;
      });
  print_mix_figures("mix (vt_replay)", figures);
  uint64_t stats[13] = {};
  vantrel().vt_stats(engine, stats, 13);
  std::printf("events %llu, errors %llu, unattributed %llu, dropped %llu, refused %u\n",
              static_cast<unsigned long long>(stats[0]), static_cast<unsigned long long>(stats[1]),
              static_cast<unsigned long long>(stats[2]), static_cast<unsigned long long>(stats[5]), refused);
  vantrel().vt_destroy(engine);
  return refused == 0 ? 0 : 1;
}
