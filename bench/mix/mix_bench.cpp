// A build-like mix of kernel file events through the decoder on the pure
// engine core, as the capture thread hands them in, with a host draining
// until a batch comes back empty every 16,384 events. Prints the CPU time per
// event of the replays alone and with the drains.
#include <cstdio>

#include "bench/mix/mix_workload.h"
#include "bench/thread_cpu.h"
#include "engine/core/configuration.h"
#include "engine/activity/drain_format.h"
#include "engine/core/engine_core.h"
#include "engine/capture/decoder.h"

using namespace mirrow;
using namespace mirrow::bench;

int main(int argc, char** argv) {
  MixOptions options;
  if (!parse_mix_options(argc, argv, options)) return 2;
  const MixWorkload workload;

  EngineCore engine;
  engine.own_pid = 1;
  // The device map a machine with C: on the first volume gives.
  engine.device_map = {{u"\\device\\harddiskvolume1", u"c:"}};
  add_root(engine, 1, mix_root, false);
  set_probe(engine, mix_probe);

  const MixFigures figures = run_mix(
      options, workload, thread_cpu_seconds,
      [&](const MixEvent& e, double start) {
        decode_event(engine, e.id, e.version, 8, e.pid, start + e.offset, workload.payload(e), e.length);
      },
      [&] {
        return drain_activity(engine).size() > 2;
      });
  print_mix_figures("mix (engine core, decoder)", figures);
  std::printf("io_total %llu, errors %llu, unattributed %llu, dropped %llu\n",
              static_cast<unsigned long long>(engine.counters.get(Counter::io_total)),
              static_cast<unsigned long long>(engine.counters.get(Counter::errors)),
              static_cast<unsigned long long>(engine.counters.get(Counter::unattributed)),
              static_cast<unsigned long long>(engine.counters.get(Counter::dropped)));
  return 0;
}
