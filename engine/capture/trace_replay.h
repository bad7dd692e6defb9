#pragma once
// Replaying a recorded trace file through the engine: every event goes, in
// the order the reader delivers it, to the same record intake as a live
// event, on the calling thread and with the engine stopped. The recording
// names files by the device paths of the machine it was made on, so the
// replay maps them with that machine's device map: one the host gives, else
// the one the recording holds, else this machine's own.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/paths.h"
#include "engine/capture/decoder.h"
#include "engine/capture/intake.h"
#include "engine/capture/trace_file.h"
#include "engine/core/counters.h"

namespace mirrow {

// "\Device\HarddiskVolume2=C:" entries, one per line. Nothing, with the
// reason in `problem`, when an entry names no device path or no drive.
std::optional<DeviceMap> parse_device_entries(std::u16string_view text, std::string& problem);

// The drive mappings a recording holds: its volume-mapping events (a
// device path and the drive it is reached by), which the tools that merge
// and relog kernel traces add to a file and the kernel's system
// configuration group carries. Empty when it holds none.
DeviceMap recorded_device_map(trace_file::Reader& reader);

// How the live intake sees a recorded event.
EventView event_view(const trace_file::Event& event);

// Hands one recorded event to the intake; the Windows library builds the
// EVENT_RECORD that ProcessTrace would, the pure build goes to route_event.
using TraceEventSink = void (*)(void* context, const trace_file::Event& event);

struct TraceReplay {
  std::uint32_t status = 0;  // 0, 87 (running or a bad device entry), 13 (not a trace file)
  std::string report;        // one JSON object, for every status
};

// Replays the file's bytes through the sink, with names mapped by the
// replay's device map in d.names, and runs a forced recovery pass at the
// end, as a single replayed event does. `file_name` is only reported. The
// caller keeps every other decoding out throughout (the engine's replay
// lock) and has made sure the engine is stopped.
TraceReplay replay_trace(const Decoding& d, std::u16string_view file_name, std::span<const std::uint8_t> bytes,
                         const std::optional<std::u16string>& device_entries, TraceEventSink sink,
                         void* context) noexcept;

// A replay refused before it began: 87 and a report that gives the problem.
TraceReplay refused_trace_replay(Counters& counters, std::u16string_view file_name,
                                 std::string_view problem) noexcept;

// The sink of the pure build: route_event on the Decoding given as context.
void route_recorded_event(void* decoding, const trace_file::Event& event);

}  // namespace mirrow
