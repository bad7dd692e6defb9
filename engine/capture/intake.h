#pragma once
// Routing of one trace event record to the decoder. The Windows trace
// consumer turns each record into an EventView (after dropping records
// without an engine in their user context) and calls route_event; the rest
// is pure so that it is tested without any tracing.
#include <cstdint>

#include "engine/capture/decoder.h"

namespace mirrow {

enum class EventProvider {
  kernel_file,      // Microsoft-Windows-Kernel-File, decoded by decode_event
  classic_file_io,  // the system logger's file-I/O class: name events only
  other,
};

// A provider GUID in its four fields.
struct ProviderGuid {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::uint8_t data4[8];
};

EventProvider provider_of(const ProviderGuid& guid) noexcept;

struct EventView {
  EventProvider provider = EventProvider::other;
  std::uint16_t event_id = 0;
  std::uint8_t version = 0;
  std::uint8_t opcode = 0;        // classic events only
  bool header_32bit = false;      // header flag 0x20: pointers are 4 bytes
  std::uint32_t process_id = 0;
  std::int64_t timestamp = 0;     // 100-ns units since 1601-01-01 UTC
  const std::uint8_t* user_data = nullptr;
  std::uint16_t user_data_length = 0;
};

constexpr std::uint16_t event_header_flag_32bit = 0x20;

void route_event(const Decoding& d, const EventView& event) noexcept;

}  // namespace mirrow
