#include "engine/capture/payload_parse.h"

#include <cstring>

namespace mirrow {

void PayloadCursor::need(std::uint64_t bytes) const {
  if (remaining() < bytes) throw PayloadError("short payload");
}

std::uint64_t PayloadCursor::pointer() {
  need(pointer_size_);
  std::uint64_t value = 0;  // a 4-byte pointer fills the low half (little-endian)
  std::memcpy(&value, data_ + offset_, pointer_size_);
  offset_ += pointer_size_;
  return value;
}

std::uint32_t PayloadCursor::u32() {
  need(4);
  std::uint32_t value;
  std::memcpy(&value, data_ + offset_, 4);
  offset_ += 4;
  return value;
}

std::u16string PayloadCursor::string() {
  if (remaining() % 2 != 0) throw PayloadError("odd string");
  const std::uint8_t* start = data_ + offset_;
  std::uint64_t units = 0;
  for (;;) {
    if (remaining() < 2) throw PayloadError("unterminated string");
    char16_t unit;
    std::memcpy(&unit, data_ + offset_, 2);
    offset_ += 2;
    if (unit == 0) break;
    ++units;
  }
  std::u16string text(units, u'\0');
  std::memcpy(text.data(), start, units * 2);
  return text;
}

NameFields parse_name_event(PayloadCursor& c) {
  NameFields f;
  f.file_key = c.pointer();
  f.name = c.string();
  return f;
}

CreateFields parse_create(PayloadCursor& c, std::uint8_t version) {
  CreateFields f;
  f.irp = c.pointer();
  if (version == 0) c.skip_pointer();  // thread
  f.file_object = c.pointer();
  if (version != 0) c.skip_u32();  // issuing thread id
  c.skip_u32();                    // create options
  c.skip_u32();                    // create attributes
  c.skip_u32();                    // share access
  f.name = c.string();
  return f;
}

IdentityFields parse_close(PayloadCursor& c, std::uint8_t version) {
  IdentityFields f;
  c.skip_pointer();                    // IRP
  if (version == 0) c.skip_pointer();  // thread
  f.file_object = c.pointer();
  f.file_key = c.pointer();
  if (version != 0) c.skip_u32();  // issuing thread id
  return f;
}

IdentityFields parse_io(PayloadCursor& c, std::uint8_t version) {
  IdentityFields f;
  c.skip_u64();                        // byte offset
  c.skip_pointer();                    // IRP
  if (version == 0) c.skip_pointer();  // thread
  f.file_object = c.pointer();
  f.file_key = c.pointer();
  if (version != 0) c.skip_u32();  // issuing thread id
  c.skip_u32();                    // I/O size
  c.skip_u32();                    // I/O flags
  if (version != 0) c.skip_u32();  // extra flags
  return f;
}

OperationEndFields parse_operation_end(PayloadCursor& c) {
  OperationEndFields f;
  f.irp = c.pointer();
  c.skip_pointer();  // extra information
  f.status = c.u32();
  return f;
}

std::u16string parse_path_event(PayloadCursor& c, std::uint8_t version) {
  c.skip_pointer();                    // IRP
  if (version == 0) c.skip_pointer();  // thread
  c.skip_pointer();                    // file object
  c.skip_pointer();                    // file key
  c.skip_pointer();                    // extra information
  if (version != 0) c.skip_u32();      // issuing thread id
  c.skip_u32();                        // information class
  return c.string();
}

}  // namespace mirrow
