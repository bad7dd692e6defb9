// The classic file-I/O name events (opcodes 0, 32, 35 and 36: a file key
// pointer, then a 0-terminated UTF-16 name) parsed directly with 4- and
// 8-byte pointers, from an exactly sized copy so that any read past the
// payload is caught. The outcome must match the layout: the payload parses
// exactly when it holds a pointer and an even number of bytes after it with
// a 0 unit among them; the key is the little-endian pointer, the name the
// units before the first 0 unit, and nothing else is consumed. A payload that
// does not fit throws PayloadError and nothing else.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/capture/payload_parse.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

struct Expected {
  bool parses = false;
  std::uint64_t key = 0;
  std::u16string name;
  std::size_t consumed = 0;
};

Expected expected_fields(const std::vector<std::uint8_t>& payload, std::uint32_t pointer_size) {
  Expected e;
  if (payload.size() < pointer_size || (payload.size() - pointer_size) % 2 != 0) return e;
  for (std::uint32_t i = 0; i < pointer_size; ++i) e.key |= static_cast<std::uint64_t>(payload[i]) << (8 * i);
  for (std::size_t at = pointer_size; at + 2 <= payload.size(); at += 2) {
    const char16_t unit = static_cast<char16_t>(payload[at] | (payload[at + 1] << 8));
    if (unit == 0) {
      e.parses = true;
      e.consumed = at + 2;
      return e;
    }
    e.name.push_back(unit);
  }
  return e;
}

void check(const std::vector<std::uint8_t>& payload, std::uint32_t pointer_size) {
  const Expected e = expected_fields(payload, pointer_size);
  mirrow::PayloadCursor cursor(payload.data(), payload.size(), pointer_size);
  try {
    const mirrow::NameFields f = mirrow::parse_name_event(cursor);
    require(e.parses);
    require(f.file_key == e.key);
    require(f.name == e.name);
    require(cursor.remaining() == payload.size() - e.consumed);
  } catch (const mirrow::PayloadError&) {
    require(!e.parses);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> payload(data, data + size);
  check(payload, 8);
  check(payload, 4);
  return 0;
}
