// Decoder and name binding throughput through Vantrel.dll, bound by name as
// a host binds it: one NameCreate, then vt_replay_many with 10 million
// version-1 reads of the bound file key.
#include <cstdio>

#include "bench/replay/replay_figures.h"
#include "bench/thread_cpu.h"
#include "support/vantrel_api.h"

using namespace mirrow;
using mirrow::testing::vantrel;

int main() {
  vt_engine* engine = vantrel().vt_create();
  if (engine == nullptr) return 1;
  vantrel().vt_root(engine, 1, L"C:\\Data", 0);
  const test::Bytes name = bench::name_create_payload();
  const test::Bytes read = bench::bound_read_payload();
  vantrel().vt_replay(engine, 10, 0, 8, bench::replay_pid, bench::replay_time, name.data(), name.size());
  uint32_t status = 0;
  bench::measure_and_print("vt_replay_many", bench::thread_cpu_seconds, [&] {
    status = vantrel().vt_replay_many(engine, 15, 1, 8, bench::replay_pid, bench::replay_time, read.data(),
                                      read.size(), bench::replay_events);
  });
  uint64_t stats[13] = {};
  vantrel().vt_stats(engine, stats, 13);
  std::printf("status %u, events %llu, errors %llu\n", status, static_cast<unsigned long long>(stats[0]),
              static_cast<unsigned long long>(stats[1]));
  vantrel().vt_destroy(engine);
  return status == 0 ? 0 : 1;
}
