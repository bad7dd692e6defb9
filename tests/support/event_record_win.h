#pragma once
// Event records as a real-time consumer hands them to its callback, built
// from readable fields, and the providers' GUIDs the engine listens to.
#include <windows.h>
#include <evntcons.h>

#include <cstdint>
#include <vector>

namespace mirrow::testing {

inline constexpr GUID kernel_file_guid{0xEDD08927, 0x9CC4, 0x4E65, {0xB9, 0x70, 0xC2, 0x56, 0x0F, 0xB5, 0xC2, 0x89}};
inline constexpr GUID classic_file_io_guid{0x90CBDC39, 0x4A3E, 0x11D1, {0x84, 0xF4, 0x00, 0x00, 0xF8, 0x04, 0x64, 0xE3}};
inline constexpr GUID disk_io_guid{0x3D6FA8D4, 0xFE05, 0x11D0, {0x9D, 0xDA, 0x00, 0xC0, 0x4F, 0xD7, 0xBA, 0x7C}};

struct EventFields {
  GUID provider;
  std::uint16_t id = 0;
  std::uint8_t version = 0;
  std::uint8_t opcode = 0;
  bool header_32bit = false;
  std::uint32_t process_id = 0;
  std::int64_t timestamp = 133000000000000000;  // a 2022 file time
  std::vector<std::uint8_t> data;
};

// The record points into `event.data`, which must outlive it.
inline EVENT_RECORD record_of(const EventFields& event, void* context) {
  EVENT_RECORD record{};
  record.EventHeader.ProviderId = event.provider;
  record.EventHeader.EventDescriptor.Id = event.id;
  record.EventHeader.EventDescriptor.Version = event.version;
  record.EventHeader.EventDescriptor.Opcode = event.opcode;
  record.EventHeader.Flags = event.header_32bit ? EVENT_HEADER_FLAG_32_BIT_HEADER : EVENT_HEADER_FLAG_64_BIT_HEADER;
  record.EventHeader.ProcessId = event.process_id;
  record.EventHeader.TimeStamp.QuadPart = event.timestamp;
  record.UserData = const_cast<std::uint8_t*>(event.data.data());
  record.UserDataLength = static_cast<USHORT>(event.data.size());
  record.UserContext = context;
  return record;
}

}  // namespace mirrow::testing
