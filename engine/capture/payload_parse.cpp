#include "engine/capture/payload_parse.h"

#include <cstring>

namespace mirrow {

void fail_payload(const char* why) { throw PayloadError(why); }

std::uint64_t PayloadCursor::string_units() const {
  if (remaining() % 2 != 0) fail_payload("odd string");
  const std::uint8_t* at = data_ + offset_;
  const std::uint64_t whole_units = remaining() / 2;
  for (std::uint64_t units = 0; units < whole_units; ++units, at += 2) {
    if (at[0] == 0 && at[1] == 0) return units;
  }
  fail_payload("unterminated string");
}

std::u16string PayloadCursor::string() {
  std::u16string text;
  string_into(text);
  return text;
}

void PayloadCursor::string_into(std::u16string& out) {
  const std::uint64_t units = string_units();
  out.resize(units);
  std::memcpy(out.data(), data_ + offset_, units * 2);
  offset_ += (units + 1) * 2;
}

NameFields parse_name_event(PayloadCursor& c) {
  NameFields f;
  f.file_key = parse_name_event(c, f.name);
  return f;
}

std::uint64_t parse_name_event(PayloadCursor& c, std::u16string& name) {
  const std::uint64_t file_key = c.pointer();
  c.string_into(name);
  return file_key;
}

CreateFields parse_create(PayloadCursor& c, std::uint8_t version, std::u16string& name) {
  CreateFields f;
  f.irp = c.pointer();
  if (version == 0) c.skip_pointer();  // thread
  f.file_object = c.pointer();
  if (version != 0) c.skip_u32();  // issuing thread id
  c.skip_u32();                    // create options
  c.skip_u32();                    // create attributes
  c.skip_u32();                    // share access
  c.string_into(name);
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

void parse_path_event(PayloadCursor& c, std::uint8_t version, std::u16string& path) {
  c.skip_pointer();                    // IRP
  if (version == 0) c.skip_pointer();  // thread
  c.skip_pointer();                    // file object
  c.skip_pointer();                    // file key
  c.skip_pointer();                    // extra information
  if (version != 0) c.skip_u32();      // issuing thread id
  c.skip_u32();                        // information class
  c.string_into(path);
}

}  // namespace mirrow
