// Memory under a flood of distinct files on the pure engine core: 10 million
// events through the trace intake, as live events arrive, each file with its
// own objects, keys and paths. A host drains every so many events (or never,
// with --no-drain). Every million events a line shows the resident and peak
// memory and the size of each capped container, so that flatness once the
// caps are reached is visible. Goal: peak at most 160 MiB.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

#include "bench/flood/flood_workload.h"
#include "common/clock.h"
#include "common/file_time.h"
#include "engine/api/native_engine.h"

using namespace mirrow;
using namespace mirrow::bench;

namespace {

std::uint64_t resident_bytes() {
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (f == nullptr) return 0;
  unsigned long long size = 0, resident = 0;
  const int got = std::fscanf(f, "%llu %llu", &size, &resident);
  std::fclose(f);
  return got == 2 ? resident * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE)) : 0;
}

std::uint64_t peak_bytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;  // kilobytes on Linux
}

double process_cpu_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void route(NativeEngine& engine, const FloodEvent& e) {
  LiveEvent live;
  live.provider = e.classic ? LiveProvider::classic_file_io : LiveProvider::kernel_file;
  live.id = e.id;
  live.version = e.version;
  live.opcode = e.opcode;
  live.pid = e.pid;
  live.filetime = e.filetime;
  live.payload = e.payload.data();
  live.length = static_cast<std::uint16_t>(e.payload.size());
  engine.deliver(live);
}

// One host drain tick: batches until one comes back empty, bounded.
std::uint64_t drain_tick(NativeEngine& engine) {
  std::uint64_t records = 0;
  for (int i = 0; i < drain_batches_per_tick; ++i) {
    const std::string_view text = engine.drain();
    const std::uint64_t got = drained_records(text.data(), text.size());
    if (got == 0) break;
    records += got;
  }
  return records;
}

void print_line(NativeEngine& engine, std::uint64_t events, std::uint64_t handed_out) {
  const NativeEngineSizes sizes = engine.sizes();
  std::printf(
      "%5.1f M events: rss %6.1f MiB, peak %6.1f MiB | bindings obj %zu key %zu prev-obj %zu prev-key %zu | "
      "name table %zu (%zu held by it alone), name budget %.1f MiB | pending io %zu, pending opens %zu | groups %zu + ready %zu, "
      "handed out %llu | dropped %llu, evictions %llu\n",
      static_cast<double>(events) / 1e6, mib(resident_bytes()), mib(peak_bytes()), sizes.object_bindings,
      sizes.key_bindings, sizes.previous_object_bindings, sizes.previous_key_bindings, sizes.names,
      sizes.names_held_by_table_alone, mib(sizes.name_bytes), sizes.pending_io, sizes.pending_opens,
      sizes.open_groups, sizes.ready_groups, static_cast<unsigned long long>(handed_out),
      static_cast<unsigned long long>(engine.counter("dropped")),
      static_cast<unsigned long long>(engine.counter("mapping_evictions")));
  std::fflush(stdout);
}

void print_counters(const NativeEngine& engine) {
  const char* const shown[] = {
      "events",       "errors",        "dropped",       "mapping_evictions", "unattributed",
      "pending_limit", "name_not_seen", "late_recovered", "io_total",          "manifest_names",
      "classic_names", "malformed",     "unsupported",
  };
  for (const char* key : shown) {
    std::printf("  %-18s %llu\n", key, static_cast<unsigned long long>(engine.counter(key)));
  }
}

}  // namespace

int main(int argc, char** argv) {
  FloodOptions options;
  if (!parse_flood_options(argc, argv, options)) return 2;

  const std::uint64_t rss_before = resident_bytes();
  NativeEngine engine;
  engine.set_own_pid(1);
  engine.add_root(1, u"C:\\Data", false);
  engine.track_missing_opens(options.missing_paths != 0);
  for (std::uint64_t i = 0; i < options.missing_paths; ++i) engine.add_missing(missing_path(i));
  std::printf("flood (engine core): %llu events, %s, %zu-unit paths, %llu watched missing paths\n",
              static_cast<unsigned long long>(options.events),
              options.drain_every == 0 ? "no drain" : ("drain every " + std::to_string(options.drain_every) +
                                                       " events").c_str(),
              options.path_units, static_cast<unsigned long long>(options.missing_paths));
  std::printf("rss before the engine %.1f MiB, after configuring it %.1f MiB\n", mib(rss_before),
              mib(resident_bytes()));

  // Live-like times: the flood starts now and moves on a microsecond per event.
  FloodWorkload workload(options, filetime_unix_epoch +
                                      static_cast<std::int64_t>(now_unix_seconds() * filetime_units_per_second));
  // Payloads are built a batch at a time outside the engine's share of the
  // time, so that the engine's figure is the decoding, binding, recording
  // and draining alone; the total with the building is printed too.
  constexpr std::size_t batch_events = 4096;
  std::vector<FloodEvent> batch;
  batch.reserve(batch_events);
  std::uint64_t handed_out = 0;
  double engine_cpu = 0.0;
  const double cpu_start = process_cpu_seconds();
  const auto start = std::chrono::steady_clock::now();
  for (std::uint64_t n = 0; n < options.events;) {
    batch.clear();
    while (batch.size() < batch_events && n + batch.size() < options.events) batch.push_back(workload.next());
    double engine_start = process_cpu_seconds();
    for (const FloodEvent& e : batch) {
      route(engine, e);
      ++n;
      if (options.drain_every != 0 && n % options.drain_every == 0) handed_out += drain_tick(engine);
      if (n % 1000000 == 0) {
        engine_cpu += process_cpu_seconds() - engine_start;
        print_line(engine, n, handed_out);
        engine_start = process_cpu_seconds();
      }
    }
    engine_cpu += process_cpu_seconds() - engine_start;
  }
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpu = process_cpu_seconds() - cpu_start;
  const double events = static_cast<double>(options.events);

  std::printf("done: engine cpu %.2f s, %.0f ns/event (goal: at most 700), %.0f events/s\n", engine_cpu,
              engine_cpu * 1e9 / events, events / engine_cpu);
  std::printf("      with payloads built: wall %.2f s (%.0f events/s), cpu %.2f s (%.0f events/s)\n", wall,
              events / wall, cpu, events / cpu);
  std::printf("peak %.1f MiB (goal: at most 160 MiB), rss at the end %.1f MiB, groups handed out %llu\n",
              mib(peak_bytes()), mib(resident_bytes()), static_cast<unsigned long long>(handed_out));
  print_counters(engine);
  return 0;
}
