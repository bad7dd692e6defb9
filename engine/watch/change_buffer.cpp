#include "engine/watch/change_buffer.h"

#include <cstring>
#include <string>

namespace mirrow {
namespace {

std::uint32_t read_u32(const std::uint8_t* at) {
  std::uint32_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

}  // namespace

WalkEnd walk_change_buffer(const std::uint8_t* bytes, std::size_t size,
                           const std::function<bool(std::uint32_t, std::u16string_view)>& visit) {
  std::u16string name;
  std::size_t offset = 0;
  while (size >= change_record_header_bytes && offset <= size - change_record_header_bytes) {
    const std::uint8_t* record = bytes + offset;
    const std::uint32_t next = read_u32(record);
    const std::uint32_t action = read_u32(record + 4);
    const std::uint32_t name_bytes = read_u32(record + 8);
    if (name_bytes % 2 != 0 || name_bytes > size - offset - change_record_header_bytes) return WalkEnd::malformed;

    // The name need not be aligned for char16_t inside the byte buffer.
    name.resize(name_bytes / 2);
    std::memcpy(name.data(), record + change_record_header_bytes, name_bytes);
    if (!visit(action, name)) return WalkEnd::stopped;

    if (next == 0) return WalkEnd::complete;
    if (next < change_record_header_bytes || next >= size - offset) return WalkEnd::malformed;
    offset += next;
  }
  return WalkEnd::complete;
}

}  // namespace mirrow
