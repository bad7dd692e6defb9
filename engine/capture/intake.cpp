#include "engine/capture/intake.h"

#include <cstring>

#include "common/file_time.h"
#include "engine/capture/binding.h"
#include "engine/capture/decoder.h"
#include "engine/capture/payload_parse.h"

namespace mirrow {
namespace {

constexpr ProviderGuid kernel_file_provider{0xEDD08927, 0x9CC4, 0x4E65, {0xB9, 0x70, 0xC2, 0x56, 0x0F, 0xB5, 0xC2, 0x89}};
constexpr ProviderGuid classic_file_io_class{0x90CBDC39, 0x4A3E, 0x11D1, {0x84, 0xF4, 0x00, 0x00, 0xF8, 0x04, 0x64, 0xE3}};

bool same_guid(const ProviderGuid& a, const ProviderGuid& b) {
  return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 && std::memcmp(a.data4, b.data4, 8) == 0;
}

// Opcodes of the file-I/O class that name a file key.
constexpr std::uint8_t opcode_name = 0;
constexpr std::uint8_t opcode_file_create = 32;
constexpr std::uint8_t opcode_file_delete = 35;
constexpr std::uint8_t opcode_file_rundown = 36;

bool is_name_opcode(std::uint8_t opcode) {
  return opcode == opcode_name || opcode == opcode_file_create || opcode == opcode_file_delete ||
         opcode == opcode_file_rundown;
}

void count_malformed(Counters& counters) noexcept {
  counters.add(Counter::errors);
  counters.add(Counter::malformed);
}

void bind_classic_name(const Decoding& d, const EventView& event, std::uint32_t pointer_size) {
  PayloadCursor cursor(event.user_data, event.user_data_length, pointer_size);
  std::u16string& path = d.bindings.name_scratch;
  const std::uint64_t file_key = parse_name_event(cursor, path);
  d.bindings.key_bindings.prefetch(file_key);  // while the name is made
  const NameRef name = intern_event_name(d.names, d.counters, d.bindings.recent_names, path);
  const double timestamp = unix_seconds_from_filetime(event.timestamp);
  d.counters.add(Counter::classic_names);
  if (event.opcode == opcode_file_delete) close_binding(d.bindings, BindingMapId::keys, file_key, timestamp);
  else bind_name(d.bindings, d.counters, BindingMapId::keys, file_key, name, timestamp);
}

void route_classic(const Decoding& d, const EventView& event) noexcept {
  if (!is_name_opcode(event.opcode)) return;
  const std::uint32_t pointer_size = event.header_32bit ? 4 : 8;
  if (event.user_data == nullptr || event.user_data_length < pointer_size) return count_malformed(d.counters);
  try {
    bind_classic_name(d, event, pointer_size);
  } catch (...) {
    count_malformed(d.counters);
  }
}

}  // namespace

EventProvider provider_of(const ProviderGuid& guid) noexcept {
  if (same_guid(guid, kernel_file_provider)) return EventProvider::kernel_file;
  if (same_guid(guid, classic_file_io_class)) return EventProvider::classic_file_io;
  return EventProvider::other;
}

void route_event(const Decoding& d, const EventView& event) noexcept {
  switch (event.provider) {
    case EventProvider::classic_file_io:
      return route_classic(d, event);
    case EventProvider::kernel_file:
      return decode_event(d, event.event_id, event.version, event.header_32bit ? 4 : 8, event.process_id,
                          unix_seconds_from_filetime(event.timestamp), event.user_data, event.user_data_length);
    case EventProvider::other:
      d.counters.add(Counter::helper_events);
      return;
  }
}

}  // namespace mirrow
