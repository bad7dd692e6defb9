// Decoder and name binding throughput on the pure engine core: one name
// create, then 10 million version-1 reads of the bound file key, decoded by
// the same function that vt_replay_many runs.
#include <cstdio>

#include "bench/replay/replay_figures.h"
#include "bench/thread_cpu.h"
#include "engine/core/configuration.h"
#include "engine/core/engine_core.h"
#include "engine/capture/decoder.h"

using namespace mirrow;

int main() {
  EngineCore engine;
  add_root(engine, 1, u"C:\\Data", false);
  const test::Bytes name = bench::name_create_payload();
  const test::Bytes read = bench::bound_read_payload();
  replay_event(engine, ReplayEvent{10, 0, 8, bench::replay_pid, bench::replay_time, name.data(), name.size()});
  const ReplayEvent bound_read{15, 1, 8, bench::replay_pid, bench::replay_time, read.data(), read.size()};
  bench::measure_and_print("replay (engine core)", bench::thread_cpu_seconds,
                           [&] { replay_event_many(engine, bound_read, bench::replay_events); });
  std::printf("io_total %llu, errors %llu\n", static_cast<unsigned long long>(engine.counters.get(Counter::io_total)),
              static_cast<unsigned long long>(engine.counters.get(Counter::errors)));
  return 0;
}
