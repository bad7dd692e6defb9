#pragma once
// Event records as the platform's trace consumer hands them to its record
// callback, built field by field for the tests that feed that callback.
#include <windows.h>
#include <evntcons.h>

#include <cstddef>
#include <cstdint>

namespace mirrow::testing {

inline constexpr GUID kernel_file_guid{
    0xEDD08927, 0x9CC4, 0x4E65, {0xB9, 0x70, 0xC2, 0x56, 0x0F, 0xB5, 0xC2, 0x89}};
inline constexpr GUID classic_file_io_guid{0x90CBDC39, 0x4A3E, 0x11D1, {0x84, 0xF4, 0x00, 0x00, 0xF8, 0x04, 0x64, 0xE3}};
inline constexpr GUID disk_io_guid{0x3D6FA8D4, 0xFE05, 0x11D0, {0x9D, 0xDA, 0x00, 0xC0, 0x4F, 0xD7, 0xBA, 0x7C}};

struct RecordFields {
  GUID provider{};
  std::uint16_t id = 0;
  std::uint8_t version = 0;
  std::uint8_t opcode = 0;
  bool header_32bit = false;  // the header flag that makes pointers 4 bytes
  std::uint32_t process_id = 0;
  std::int64_t timestamp = 0;  // 100-ns units since 1601
  const void* user_data = nullptr;
  std::size_t user_data_length = 0;
  void* context = nullptr;
};

inline EVENT_RECORD event_record(const RecordFields& fields) {
  EVENT_RECORD record{};
  record.EventHeader.Size = sizeof(EVENT_HEADER);
  record.EventHeader.ProviderId = fields.provider;
  record.EventHeader.EventDescriptor.Id = fields.id;
  record.EventHeader.EventDescriptor.Version = fields.version;
  record.EventHeader.EventDescriptor.Opcode = fields.opcode;
  record.EventHeader.Flags = fields.header_32bit ? EVENT_HEADER_FLAG_32_BIT_HEADER : EVENT_HEADER_FLAG_64_BIT_HEADER;
  record.EventHeader.ProcessId = fields.process_id;
  record.EventHeader.TimeStamp.QuadPart = fields.timestamp;
  record.UserData = const_cast<void*>(fields.user_data);
  record.UserDataLength = static_cast<USHORT>(fields.user_data_length);
  record.UserContext = fields.context;
  return record;
}

}  // namespace mirrow::testing
