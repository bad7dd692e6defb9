#pragma once
// Parsing of kernel file event payloads. Every field is checked against the
// remaining length before it is read; a payload that does not fit throws
// PayloadError with a short text saying why.
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

namespace mirrow {

struct PayloadError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Throws PayloadError(why); kept out of line so that the field reads inline
// to a compare and a load.
[[noreturn]] void fail_payload(const char* why);

// Walks a payload field by field. Pointer fields are pointer_size bytes (4 or
// 8), little-endian, zero-extended to 64 bits.
class PayloadCursor {
 public:
  PayloadCursor(const std::uint8_t* data, std::uint64_t length, std::uint32_t pointer_size) noexcept
      : data_(data), length_(length), pointer_size_(pointer_size) {}

  std::uint64_t pointer() {
    need(pointer_size_);
    const std::uint8_t* at = data_ + offset_;
    offset_ += pointer_size_;
    // Fixed-size copies: one of a run-time size becomes a byte loop.
    if (pointer_size_ == 8) {
      std::uint64_t value;
      std::memcpy(&value, at, 8);
      return value;
    }
    std::uint32_t value;  // zero-extended, as a 4-byte pointer is
    std::memcpy(&value, at, 4);
    return value;
  }
  std::uint32_t u32() {
    need(4);
    std::uint32_t value;
    std::memcpy(&value, data_ + offset_, 4);
    offset_ += 4;
    return value;
  }
  void skip_pointer() { skip(pointer_size_); }
  void skip_u32() { skip(4); }
  void skip_u64() { skip(8); }
  // UTF-16 units up to a 0 unit, which is consumed but not returned.
  std::u16string string();
  // The same units written over out, whose memory is reused.
  void string_into(std::u16string& out);

  std::uint64_t remaining() const noexcept { return length_ - offset_; }
  std::uint32_t pointer_size() const noexcept { return pointer_size_; }
  // The next bytes fields at once: one length check for a fixed layout.
  const std::uint8_t* take(std::uint64_t bytes) {
    need(bytes);
    const std::uint8_t* at = data_ + offset_;
    offset_ += bytes;
    return at;
  }

 private:
  void need(std::uint64_t bytes) const {
    if (remaining() < bytes) fail_payload("short payload");
  }
  // Units of the string at the offset, its terminator not counted; checks
  // that it starts at an even remaining length and ends in the payload.
  std::uint64_t string_units() const;
  void skip(std::uint64_t bytes) {
    need(bytes);
    offset_ += bytes;
  }

  const std::uint8_t* data_;
  std::uint64_t length_;
  std::uint64_t offset_ = 0;
  std::uint32_t pointer_size_;
};

// Kernel file provider events that the decoder acts on.
namespace file_event {
constexpr std::uint16_t name_create = 10;
constexpr std::uint16_t name_delete = 11;
constexpr std::uint16_t create = 12;
constexpr std::uint16_t close = 14;
constexpr std::uint16_t read = 15;
constexpr std::uint16_t write = 16;
constexpr std::uint16_t operation_end = 24;
constexpr std::uint16_t delete_path = 26;
constexpr std::uint16_t rename_path = 27;
constexpr std::uint16_t create_new_file = 30;
}  // namespace file_event

// The fields the decoder uses, per payload layout. version is 0 or 1.
struct NameFields {
  std::uint64_t file_key;
  std::u16string name;
};
// The create's name goes to a buffer of the caller's.
struct CreateFields {
  std::uint64_t irp;
  std::uint64_t file_object;
};
struct IdentityFields {
  std::uint64_t file_object;
  std::uint64_t file_key;
};
struct OperationEndFields {
  std::uint64_t irp;
  std::uint32_t status;
};

NameFields parse_name_event(PayloadCursor& c);                         // 10, 11 (version 0)
// The same fields, the name written over name; returns the file key.
std::uint64_t parse_name_event(PayloadCursor& c, std::u16string& name);
CreateFields parse_create(PayloadCursor& c, std::uint8_t version, std::u16string& name);  // 12, 30
IdentityFields parse_close(PayloadCursor& c, std::uint8_t version);    // 14
IdentityFields parse_io(PayloadCursor& c, std::uint8_t version);       // 15, 16
OperationEndFields parse_operation_end(PayloadCursor& c);              // 24 (version 0)
void parse_path_event(PayloadCursor& c, std::uint8_t version, std::u16string& path);  // 26, 27

}  // namespace mirrow
