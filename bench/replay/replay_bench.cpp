// Decoder and name binding throughput on the pure engine core: one name
// create, then 10 million version-1 reads of the bound file key, decoded by
// the same function that vt_replay_many runs.
#include <cstdio>

#include "bench/replay/replay_figures.h"
#include "bench/thread_cpu.h"
#include "engine/api/native_engine.h"

using namespace mirrow;

int main() {
  NativeEngine engine;
  engine.add_root(1, u"C:\\Data", false);
  const test::Bytes name = bench::name_create_payload();
  const test::Bytes read = bench::bound_read_payload();
  engine.replay(10, 0, bench::replay_pid, bench::replay_time, name.data(), name.size());
  bench::measure_and_print("replay (engine core)", bench::thread_cpu_seconds, [&] {
    engine.replay_many(15, 1, bench::replay_pid, bench::replay_time, read.data(), read.size(), bench::replay_events);
  });
  std::printf("io_total %llu, errors %llu\n", static_cast<unsigned long long>(engine.counter("io_total")),
              static_cast<unsigned long long>(engine.counter("errors")));
  return 0;
}
