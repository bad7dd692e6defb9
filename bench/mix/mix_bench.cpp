// A build-like mix of kernel file events through the decoder on the pure
// engine core, as the capture thread hands them in, with a host draining
// until a batch comes back empty every 16,384 events. Prints the CPU time per
// event of the replays alone and with the drains.
#include <cstdio>

#include "bench/mix/mix_workload.h"
#include "bench/thread_cpu.h"
#include "engine/api/native_engine.h"

using namespace mirrow;
using namespace mirrow::bench;

int main(int argc, char** argv) {
  MixOptions options;
  if (!parse_mix_options(argc, argv, options)) return 2;
  const MixWorkload workload;

  NativeEngine engine;
  engine.set_own_pid(1);
  // The device map a machine with C: on the first volume gives.
  engine.map_device(u"\\device\\harddiskvolume1", u"c:");
  engine.add_root(1, mix_root, false);
  engine.set_probe(mix_probe);

  const MixFigures figures = run_mix(
      options, workload, thread_cpu_seconds,
      [&](const MixEvent& e, double start) {
        engine.replay(e.id, e.version, e.pid, start + e.offset, workload.payload(e), e.length);
      },
      [&] { return engine.drain().size() > 2; });
  print_mix_figures("mix (engine core, decoder)", figures);
  std::printf("io_total %llu, errors %llu, unattributed %llu, dropped %llu\n",
              static_cast<unsigned long long>(engine.counter("io_total")),
              static_cast<unsigned long long>(engine.counter("errors")),
              static_cast<unsigned long long>(engine.counter("unattributed")),
              static_cast<unsigned long long>(engine.counter("dropped")));
  return 0;
}
