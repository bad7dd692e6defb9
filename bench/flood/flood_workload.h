#pragma once
// The flood benchmark's workload, shared by the native program (through the
// trace intake, as live events arrive) and the one that goes through
// Vantrel.dll (vt_replay_many). Every file of the flood has its own file
// objects, file keys and paths, so that each container that grows with the
// observed system meets its cap.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/event_payloads.h"

namespace mirrow::bench {

struct FloodOptions {
  std::uint64_t events = 10000000;
  std::uint64_t drain_every = 16384;  // events between two host drain ticks; 0: never drains
  std::size_t path_units = 40;        // length of every path of the flood
  std::uint64_t missing_paths = 40000;  // watched missing paths the host configures
};

// flood_bench [--events N] [--no-drain] [--drain-every N] [--path-units N] [--missing N]
inline bool parse_flood_options(int argc, char** argv, FloodOptions& options) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (std::strcmp(arg, "--no-drain") == 0) {
      options.drain_every = 0;
    } else if (has_value && std::strcmp(arg, "--events") == 0) {
      options.events = std::strtoull(argv[++i], nullptr, 10);
    } else if (has_value && std::strcmp(arg, "--drain-every") == 0) {
      options.drain_every = std::strtoull(argv[++i], nullptr, 10);
    } else if (has_value && std::strcmp(arg, "--path-units") == 0) {
      options.path_units = std::strtoull(argv[++i], nullptr, 10);
    } else if (has_value && std::strcmp(arg, "--missing") == 0) {
      options.missing_paths = std::strtoull(argv[++i], nullptr, 10);
    } else {
      std::fprintf(stderr,
                   "usage: %s [--events N] [--no-drain] [--drain-every N] [--path-units N] [--missing N]\n",
                   argv[0]);
      return false;
    }
  }
  return true;
}

// One event of the flood. classic: a name event of the system logger's
// file-I/O class (opcode), which only the trace intake routes; the program
// through the library replays it as a NameCreate, whose payload is the same.
struct FloodEvent {
  bool classic = false;
  std::uint8_t opcode = 0;
  std::uint16_t id = 0;
  std::uint8_t version = 0;
  std::uint32_t pid = 0;
  std::int64_t filetime = 0;  // 100-ns units since 1601
  test::Bytes payload;
};

constexpr std::int64_t flood_filetime_per_event = 10;  // one event every microsecond
constexpr std::uint32_t status_name_not_found = 0xC0000034;
constexpr std::uint8_t classic_file_create = 32;

// Path of a flood file: tag names its role, the file number makes it
// distinct, and 'x' units pad it to the requested length.
inline std::u16string flood_path(const char* tag, std::uint64_t file, std::size_t units) {
  std::string text = "C:\\Data\\Flood\\";
  text += tag;
  text += "\\d" + std::to_string(file % 1000) + "\\f" + std::to_string(file);
  while (text.size() + 4 < units) text += 'x';
  text += ".txt";
  return std::u16string(text.begin(), text.end());
}

// Watched missing paths keep their natural length whatever the flood's: they
// are the host's configuration, held outside every cap of the engine.
inline std::u16string missing_path(std::uint64_t index) { return flood_path("missing", index, 0); }

// Sixteen events per file: an open that is read, written and closed, a new
// file left open, a key named and later renamed, rename and delete paths, a
// reused file object, a read that never gets a name, a classic name event,
// and an open of a watched missing path whose end comes for every other file
// only, so that opens wait unanswered.
class FloodWorkload {
 public:
  FloodWorkload(const FloodOptions& options, std::int64_t first_filetime)
      : options_(options), filetime_(first_filetime) {}

  FloodEvent next() {
    const std::uint64_t file = index_ / 16;
    const std::uint64_t step = index_ % 16;
    ++index_;
    FloodEvent e;
    e.pid = 1000 + static_cast<std::uint32_t>(file % 64);
    e.filetime = filetime_;
    filetime_ += flood_filetime_per_event;
    fill(e, file, step);
    return e;
  }

 private:
  static std::uint64_t object(std::uint64_t file, unsigned n) { return 0xFFFF800000000000ULL | (file << 4) | n; }
  static std::uint64_t key(std::uint64_t file, unsigned n) { return 0xFFFF900000000000ULL | (file << 4) | n; }
  static std::uint64_t irp(std::uint64_t file, unsigned n) { return 0xFFFFA00000000000ULL | (file << 4) | n; }

  std::u16string path(const char* tag, std::uint64_t file) const { return flood_path(tag, file, options_.path_units); }

  void set(FloodEvent& e, std::uint16_t id, std::uint8_t version, test::Bytes payload) const {
    e.id = id;
    e.version = version;
    e.payload = std::move(payload);
  }

  void fill(FloodEvent& e, std::uint64_t file, std::uint64_t step) const {
    using namespace test;
    switch (step) {
      case 0: return set(e, 12, 1, create_event(8, 1, irp(file, 0), object(file, 0), path("open", file)));
      case 1: return set(e, 15, 1, io_event(8, 1, object(file, 0), key(file, 0)));
      case 2: return set(e, 16, 1, io_event(8, 1, object(file, 0), key(file, 0)));
      case 3: return set(e, 14, 1, close_event(8, 1, object(file, 0), key(file, 0)));
      case 4: return set(e, 30, 1, create_event(8, 1, irp(file, 1), object(file, 1), path("new", file)));
      case 5: return set(e, 16, 1, io_event(8, 1, object(file, 1), key(file, 1)));
      case 6: return set(e, 10, 0, name_event(8, key(file, 2), path("key", file)));
      case 7: return set(e, 10, 0, name_event(8, key(file, 0), path("moved", file)));
      case 8: return set(e, 27, 1, path_event(8, 1, path("renamed", file)));
      case 9: return set(e, 26, 1, path_event(8, 1, path("deleted", file)));
      case 10: return set(e, 11, 0, name_event(8, key(file, 2), path("key", file)));
      case 11: return set(e, 12, 1, create_event(8, 1, irp(file, 2), object(file, 0), path("reopen", file)));
      case 12: return set(e, 15, 1, io_event(8, 1, object(file, 3), key(file, 3)));
      case 13:
        e.classic = true;
        e.opcode = classic_file_create;
        return set(e, 10, 0, name_event(8, key(file, 4), path("classic", file)));
      case 14: {
        const std::uint64_t watched = options_.missing_paths == 0 ? file : file % options_.missing_paths;
        return set(e, 12, 1, create_event(8, 1, irp(file, 5), object(file, 5), missing_path(watched)));
      }
      default:
        if (file % 2 == 0) return set(e, 24, 0, operation_end_event(8, irp(file, 5), status_name_not_found));
        return set(e, 15, 1, io_event(8, 1, object(file, 5), key(file, 5)));
    }
  }

  FloodOptions options_;
  std::int64_t filetime_;
  std::uint64_t index_ = 0;
};

// Records in one drain text: "[]" holds none, else one more than the
// separators between records (no flood path holds "],[").
inline std::uint64_t drained_records(const char* text, std::uint64_t length) {
  if (text == nullptr || length <= 2) return 0;
  std::uint64_t records = 1;
  for (std::uint64_t i = 0; i + 2 < length; ++i) {
    if (text[i] == ']' && text[i + 1] == ',' && text[i + 2] == '[') ++records;
  }
  return records;
}

constexpr int drain_batches_per_tick = 64;  // a host tick drains until empty, at most this many batches

inline double mib(std::uint64_t bytes) { return static_cast<double>(bytes) / 1048576.0; }

}  // namespace mirrow::bench
