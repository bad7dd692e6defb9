#pragma once
// The replay benchmark's workload and its printed figures, shared by the
// native program and the one that goes through Vantrel.dll.
#include <chrono>
#include <cstdint>
#include <cstdio>

#include "support/event_payloads.h"

namespace mirrow::bench {

constexpr std::uint32_t replay_events = 10000000;
constexpr std::uint32_t replay_pid = 700;
constexpr double replay_time = 1764979200.5;
constexpr std::uint64_t replay_key = 0xFFFFA000;
constexpr std::uint64_t replay_object = 0xFFFFB000;

inline test::Bytes name_create_payload() { return test::name_event(8, replay_key, u"C:\\Data\\Bench\\Report.txt"); }
inline test::Bytes bound_read_payload() { return test::io_event(8, 1, replay_object, replay_key); }

// Runs body once and prints ns/event and events/s for replay_events events,
// by the wall clock and by the CPU time of the calling thread (cpu_seconds),
// which stays meaningful on a machine busy with other work.
template <typename Body>
void measure_and_print(const char* label, double (*cpu_seconds)(), Body&& body) {
  const double cpu_start = cpu_seconds();
  const auto start = std::chrono::steady_clock::now();
  body();
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpu = cpu_seconds() - cpu_start;
  std::printf("%s: %u events (goal: at most 30 ns/event on one core)\n", label, replay_events);
  std::printf("  wall: %.3f s, %.1f ns/event, %.0f events/s\n", wall, wall * 1e9 / replay_events, replay_events / wall);
  std::printf("  cpu:  %.3f s, %.1f ns/event, %.0f events/s\n", cpu, cpu * 1e9 / replay_events, replay_events / cpu);
}

}  // namespace mirrow::bench
