#pragma once
// A build-like mix of kernel file events, shared by the native program (the
// decoder on the engine core) and the one that goes through Vantrel.dll
// (vt_replay). 20,000 files with a hot set of 1,000, 32 processes; each open
// is a create, two to six reads or writes and a close; 2 % of the opens are
// preceded by a rename and 1 % create a new file; a tenth of the files lie
// outside the monitored root (toolchain reads). Paths arrive in the kernel's
// device form and mixed case, as live events carry them.
//
// The events are built once into one arena and replayed pass after pass,
// each pass later in time, so that the figures measure the engine and not
// the building of payloads.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/event_payloads.h"

namespace mirrow::bench {

struct MixOptions {
  std::uint64_t events = 4194304;    // events replayed in all
  std::uint64_t drain_every = 16384;  // events between two host drain ticks
};

// mix_bench [--events N] [--drain-every N]
inline bool parse_mix_options(int argc, char** argv, MixOptions& options) {
  for (int i = 1; i < argc; ++i) {
    const bool has_value = i + 1 < argc;
    if (has_value && std::strcmp(argv[i], "--events") == 0) {
      options.events = std::strtoull(argv[++i], nullptr, 10);
    } else if (has_value && std::strcmp(argv[i], "--drain-every") == 0) {
      options.drain_every = std::strtoull(argv[++i], nullptr, 10);
    } else {
      std::fprintf(stderr, "usage: %s [--events N] [--drain-every N]\n", argv[0]);
      return false;
    }
  }
  return options.drain_every != 0;
}

constexpr std::uint32_t mix_files = 20000;
constexpr std::uint32_t mix_hot_files = 1000;
constexpr std::uint32_t mix_processes = 32;
constexpr std::uint32_t mix_object_slots = 4096;  // file objects are reused, as the kernel reuses them
constexpr std::size_t mix_pass_events = 262144;    // events in the arena, replayed pass after pass
constexpr double mix_event_spacing = 1e-6;         // seconds between two events
constexpr double mix_start_time = 1764979200.0;
constexpr std::uint32_t mix_first_pid = 4000;

// The configuration both programs give the engine.
constexpr const char16_t* mix_root = u"C:\\Build";
constexpr const char16_t* mix_probe = u"C:\\Build\\.probe\\never-read.txt";

struct MixEvent {
  std::uint16_t id = 0;
  std::uint8_t version = 0;
  std::uint32_t pid = 0;
  double offset = 0.0;  // seconds after the start of its pass
  std::uint32_t payload_at = 0;
  std::uint32_t length = 0;
};

class MixWorkload {
 public:
  MixWorkload() { build(); }

  const std::vector<MixEvent>& events() const { return events_; }
  const std::uint8_t* payload(const MixEvent& e) const { return bytes_.data() + e.payload_at; }
  static double pass_start(std::uint64_t pass) {
    return mix_start_time + static_cast<double>(pass) * static_cast<double>(mix_pass_events) * mix_event_spacing;
  }

 private:
  std::uint32_t random() {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::uint32_t>(state_ >> 33);
  }

  static std::u16string widen(const std::string& text) { return std::u16string(text.begin(), text.end()); }

  // Kernel device form, mixed case; every tenth file is a toolchain file
  // outside the root.
  static std::u16string file_path(std::uint32_t file) {
    char text[160];
    if (file % 10 == 9) {
      std::snprintf(text, sizeof text, "\\Device\\HarddiskVolume1\\Toolchain\\Lib\\Gcc\\Include%02u\\Header%05u.h",
                    file % 37, file);
    } else {
      std::snprintf(text, sizeof text, "\\Device\\HarddiskVolume1\\Build\\Src\\Module%03u\\Unit%05u.cpp",
                    file % 211, file);
    }
    return widen(text);
  }

  static std::u16string renamed_path(std::uint32_t file) {
    char text[160];
    std::snprintf(text, sizeof text, "\\Device\\HarddiskVolume1\\Build\\Obj\\Module%03u\\Unit%05u.o.tmp", file % 211,
                  file);
    return widen(text);
  }

  void add(std::uint16_t id, std::uint8_t version, std::uint32_t pid, const test::Bytes& payload) {
    MixEvent e;
    e.id = id;
    e.version = version;
    e.pid = pid;
    e.offset = static_cast<double>(events_.size()) * mix_event_spacing;
    e.payload_at = static_cast<std::uint32_t>(bytes_.size());
    e.length = static_cast<std::uint32_t>(payload.size());
    bytes_.insert(bytes_.end(), payload.begin(), payload.end());
    events_.push_back(e);
  }

  void add_open() {
    const bool hot = random() % 4 != 0;
    std::uint32_t file = hot ? random() % mix_hot_files : random() % mix_files;
    const std::uint32_t pid = mix_first_pid + random() % mix_processes;
    const std::uint64_t slot = next_object_++ % mix_object_slots;
    const std::uint64_t object = 0xFFFF800000000000ULL | (slot << 8);
    const std::uint64_t irp = 0xFFFFA00000000000ULL | (++next_irp_ << 4);
    const std::uint32_t dice = random() % 100;
    if (dice < 2) add(27, 1, pid, test::path_event(8, 1, renamed_path(file)));
    std::uint16_t create_id = 12;
    if (dice == 2) {
      file = mix_files + next_new_file_++;
      create_id = 30;
    }
    const std::uint64_t key = 0xFFFF900000000000ULL | (static_cast<std::uint64_t>(file) << 6);
    add(create_id, 1, pid, test::create_event(8, 1, irp, object, file_path(file)));
    const std::uint32_t operations = 2 + random() % 5;
    for (std::uint32_t i = 0; i < operations; ++i) {
      const std::uint16_t id = random() % 10 < 7 ? 15 : 16;
      add(id, 1, pid, test::io_event(8, 1, object, key));
    }
    add(14, 1, pid, test::close_event(8, 1, object, key));
  }

  void build() {
    events_.reserve(mix_pass_events + 16);
    while (events_.size() < mix_pass_events) add_open();
    events_.resize(mix_pass_events);
  }

  std::vector<MixEvent> events_;
  test::Bytes bytes_;
  std::uint64_t state_ = 0x853C49E6748FEA9BULL;
  std::uint64_t next_object_ = 0;
  std::uint64_t next_irp_ = 0;
  std::uint32_t next_new_file_ = 0;
};

struct MixFigures {
  std::uint64_t events = 0;
  std::uint64_t drains = 0;
  double replay_cpu = 0.0;  // seconds of the calling thread in the replays
  double drain_cpu = 0.0;   // seconds of the calling thread in the drains
  double wall = 0.0;
};

// Replays options.events events of the workload, pass after pass, through
// replay(event, pass start), and every drain_every events lets the host
// drain until a batch comes back empty: drain() hands out one batch and
// tells whether it held any record ("[]" holds none), so that the host's own
// reading of the text stays out of the figures. cpu_seconds is the calling
// thread's CPU time.
template <typename Replay, typename Drain>
MixFigures run_mix(const MixOptions& options, const MixWorkload& workload, double (*cpu_seconds)(), Replay&& replay,
                   Drain&& drain) {
  MixFigures figures;
  const auto wall_start = std::chrono::steady_clock::now();
  std::uint64_t since_drain = 0;
  for (std::uint64_t pass = 0; figures.events < options.events; ++pass) {
    const double start = MixWorkload::pass_start(pass);
    const double cpu_start = cpu_seconds();
    for (const MixEvent& e : workload.events()) {
      if (figures.events == options.events) break;
      replay(e, start);
      ++figures.events;
      if (++since_drain < options.drain_every) continue;
      since_drain = 0;
      const double drain_start = cpu_seconds();
      do {
        ++figures.drains;
      } while (drain());
      figures.drain_cpu += cpu_seconds() - drain_start;
    }
    figures.replay_cpu += cpu_seconds() - cpu_start;
  }
  figures.replay_cpu -= figures.drain_cpu;
  figures.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
  return figures;
}

// The figures every mix program prints; the last line is read by
// run_side_by_side.sh.
inline void print_mix_figures(const char* label, const MixFigures& f) {
  const double n = static_cast<double>(f.events);
  const double total = f.replay_cpu + f.drain_cpu;
  std::printf("%s: %llu events, %llu drains\n", label, static_cast<unsigned long long>(f.events),
              static_cast<unsigned long long>(f.drains));
  std::printf("  replays:     %.1f ns/event (cpu)\n", f.replay_cpu * 1e9 / n);
  std::printf("  with drains: %.1f ns/event (cpu), %.2f M events/s; wall %.2f s\n", total * 1e9 / n, n / total / 1e6,
              f.wall);
  std::printf("MIX replay_ns=%.2f total_ns=%.2f\n", f.replay_cpu * 1e9 / n, total * 1e9 / n);
}

}  // namespace mirrow::bench
