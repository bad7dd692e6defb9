#include "engine/capture/payload_parse.h"

#include <emmintrin.h>

#include <cstring>

namespace mirrow {

void fail_payload(const char* why) { throw PayloadError(why); }

std::uint64_t PayloadCursor::string_units() const {
  if (remaining() % 2 != 0) fail_payload("odd string");
  const std::uint8_t* const start = data_ + offset_;
  const std::uint64_t whole_units = remaining() / 2;
  std::uint64_t units = 0;
  // Eight units per step while a whole block is left: paths run to a hundred
  // units and more.
  const __m128i zero = _mm_setzero_si128();
  for (; units + 8 <= whole_units; units += 8) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(start + 2 * units));
    const unsigned zeros = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(block, zero)));
    if (zeros != 0) return units + static_cast<std::uint64_t>(__builtin_ctz(zeros) / 2);
  }
  for (const std::uint8_t* at = start + 2 * units; units < whole_units; ++units, at += 2) {
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

namespace {

// Two fixed-size copies: a copy of a size known only at run time becomes a
// byte loop.
std::uint64_t pointer_at(const std::uint8_t* at, std::uint32_t pointer_size) {
  if (pointer_size == 8) {
    std::uint64_t value;
    std::memcpy(&value, at, 8);
    return value;
  }
  std::uint32_t value;  // zero-extended
  std::memcpy(&value, at, 4);
  return value;
}

}  // namespace

// Reads and writes are most of the stream and their layout is fixed, so the
// whole payload is checked once and the two identities read in place.
IdentityFields parse_io(PayloadCursor& c, std::uint8_t version) {
  const std::uint32_t p = c.pointer_size();
  // byte offset, IRP, [thread], file object, file key, [issuing thread id],
  // I/O size, I/O flags, [extra flags]
  const std::uint64_t pointers_before_object = version == 0 ? 2 : 1;
  const std::uint64_t length = 8 + p * (pointers_before_object + 2) + 4 * (version == 0 ? 2 : 4);
  const std::uint8_t* at = c.take(length) + 8 + p * pointers_before_object;
  return IdentityFields{pointer_at(at, p), pointer_at(at + p, p)};
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
