// Feeds arbitrary kernel file events (and classic name events) to one
// engine core for the whole run, so that bindings, pending reads, pending
// opens and the name table fill up and hit their caps as they would after
// hours of capture. The engine's millisecond clock is the fuzzer's own: it
// moves 1 ms per input and 100 ms at a pause, so pending expiry, recovery
// and the binding prune (a sweep of every map and the name table, due every
// 5 s) come every few hundred inputs whatever the machine's speed, instead
// of the sweep running on every eighth input.
//
// Input: [selector][version][pointer][flags] then the payload.
//   selector: event id 0..63, or with flags bit 0x10 a classic opcode
//   version:  low two bits (0..3)
//   pointer:  low two bits pick 8, 4, 6 or 0
//   flags:    bit 0 own process, bits 1-3 timestamp choice, bit 4 classic,
//             bits 5-7 maintenance after the event
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "engine/api/configuration.h"
#include "engine/api/engine_core.h"
#include "engine/capture/binding.h"
#include "engine/capture/decoder.h"
#include "engine/capture/intake.h"

namespace {

constexpr std::uint32_t own_pid = 4242;

std::uint64_t clock_ms = 0;
std::uint64_t fuzz_ticks() { return clock_ms; }

mirrow::EngineCore& engine() {
  static mirrow::EngineCore* core = [] {
    auto* e = new mirrow::EngineCore;
    e->own_pid = own_pid;
    e->bindings.ticks = &fuzz_ticks;
    e->missing_paths.track_missing_opens = true;
    mirrow::add_root(*e, 1, u"c:\\data", false);
    mirrow::add_missing(e->missing_paths, u"c:\\data\\missing.txt");
    return e;
  }();
  return *core;
}

double timestamp_choice(std::uint8_t flags) {
  static const double choices[8] = {10.0, 11.0, 9.5, 1700000000.25, 0.0, 1e300,
                                    -1.0, std::numeric_limits<double>::quiet_NaN()};
  return choices[(flags >> 1) & 7];
}

void maintain(mirrow::EngineCore& e, std::uint8_t flags) {
  switch (flags >> 5) {
    case 1: mirrow::recover_pending(e.bindings, e.counters, e.recorder, true); break;
    case 2: mirrow::expire_due_pending(e.bindings, e.counters); break;
    case 3: mirrow::finish_pending_at_stop(e.bindings, e.counters, e.recorder); break;
    case 4: (void)mirrow::unknown_samples_snapshot(e.bindings); break;
    case 5: clock_ms += 100; mirrow::prune_bindings(e.bindings, e.names); break;  // a pause in the stream
    default: break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  static const std::uint32_t pointer_sizes[4] = {8, 4, 6, 0};
  const std::uint8_t selector = data[0];
  const std::uint8_t version = data[1] & 3;
  const std::uint32_t pointer_size = pointer_sizes[data[2] & 3];
  const std::uint8_t flags = data[3];
  const std::uint32_t pid = (flags & 1) ? own_pid : 700;
  const std::uint8_t* payload = size > 4 ? data + 4 : nullptr;
  const std::size_t length = size - 4;
  mirrow::EngineCore& e = engine();
  ++clock_ms;
  try {
    if (flags & 0x10) {
      mirrow::EventView view;
      view.provider = mirrow::EventProvider::classic_file_io;
      view.opcode = selector;
      view.header_32bit = pointer_size == 4;
      view.timestamp = 116444736000000000LL + 100000000LL;
      view.user_data = payload;
      view.user_data_length = static_cast<std::uint16_t>(length > 0xFFFF ? 0xFFFF : length);
      mirrow::route_event(e.decoding, view);
    } else {
      mirrow::decode_event(e.decoding, selector & 63, version, pointer_size, pid, timestamp_choice(flags), payload, length);
    }
    maintain(e, flags);
  } catch (...) {
    // Maintenance may throw only on allocation failure; decoding never throws.
  }
  return 0;
}
