// Reads a recorded trace file with the engine's reader, decompression
// included, and replays it through the intake into a fresh engine, several
// rounds each; prints the best round of each. Goal: the reader at 300 MB/s
// of decompressed trace at least, natively.
//   trace_bench [FILE.etl] [ROUNDS]   (default: the recording the tests use, 7 rounds)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/api/native_engine.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

}  // namespace

int main(int argc, char** argv) {
#ifdef MIRROW_TRACE_FIXTURE
  const char* path = argc > 1 ? argv[1] : MIRROW_TRACE_FIXTURE;
#else
  if (argc < 2) {
    std::fprintf(stderr, "usage: trace_bench FILE.etl [ROUNDS]\n");
    return 2;
  }
  const char* path = argv[1];
#endif
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
  std::ifstream file(path, std::ios::binary);
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (bytes.empty()) {
    std::fprintf(stderr, "cannot read %s\n", path);
    return 1;
  }

  double best_read = 1e30, best_replay = 1e30;
  mirrow::TraceReading reading;
  for (int round = 0; round < rounds; ++round) {
    const Clock::time_point start = Clock::now();
    reading = mirrow::read_trace_file(bytes);
    best_read = std::min(best_read, seconds_since(start));
  }
  if (!reading.readable) {
    std::fprintf(stderr, "%s is not a trace file this reader reads\n", path);
    return 1;
  }
  for (int round = 0; round < rounds; ++round) {
    mirrow::NativeEngine engine;
    engine.set_own_pid(1);
    engine.add_root(1, u"c:\\", false);
    std::string report;
    const Clock::time_point start = Clock::now();
    if (engine.replay_trace_file(bytes, report) != 0) {
      std::fprintf(stderr, "the replay was refused: %s\n", report.c_str());
      return 1;
    }
    best_replay = std::min(best_replay, seconds_since(start));
  }
  std::printf("file: %s, %zu bytes, %llu buffers, %llu events, %llu skipped\n", path, bytes.size(),
              static_cast<unsigned long long>(reading.buffers), static_cast<unsigned long long>(reading.events),
              static_cast<unsigned long long>(reading.skipped));
  std::printf("reader: %.1f ms for %.1f MB decompressed: %.0f MB/s (goal 300), %.2f M events/s\n", best_read * 1e3,
              reading.decompressed_bytes / 1e6, reading.decompressed_bytes / best_read / 1e6,
              reading.events / best_read / 1e6);
  std::printf("replay through the intake: %.1f ms: %.2f M events/s (the volume map read first: two passes)\n",
              best_replay * 1e3, reading.events / best_replay / 1e6);
  std::printf("best of %d rounds each\n", rounds);
  return 0;
}
