#pragma once
// Builds kernel file event payloads byte by byte, in the provider's layouts,
// for the decoder and replay tests.
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace mirrow::test {

using Bytes = std::vector<std::uint8_t>;

class PayloadBuilder {
 public:
  // Room for any payload the tests build with a path, so that appending
  // field by field does not reallocate (the sequence fuzzer builds one per step).
  explicit PayloadBuilder(std::uint32_t pointer_size = 8) : pointer_size_(pointer_size) { bytes_.reserve(256); }

  PayloadBuilder& pointer(std::uint64_t value) { return append(&value, pointer_size_); }
  PayloadBuilder& u32(std::uint32_t value) { return append(&value, 4); }
  PayloadBuilder& u64(std::uint64_t value) { return append(&value, 8); }
  // UTF-16 units followed by a 0 unit.
  PayloadBuilder& text(std::u16string_view s) {
    for (char16_t unit : s) append(&unit, 2);
    const char16_t zero = 0;
    return append(&zero, 2);
  }
  PayloadBuilder& units(std::u16string_view s) {
    for (char16_t unit : s) append(&unit, 2);
    return *this;
  }
  Bytes bytes() const { return bytes_; }

 private:
  PayloadBuilder& append(const void* value, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(value);
    bytes_.insert(bytes_.end(), p, p + size);
    return *this;
  }
  std::uint32_t pointer_size_;
  Bytes bytes_;
};

// 10 NameCreate / 11 NameDelete (version 0).
inline Bytes name_event(std::uint32_t p, std::uint64_t file_key, std::u16string_view path) {
  return PayloadBuilder(p).pointer(file_key).text(path).bytes();
}

// 12 Create / 30 CreateNewFile.
inline Bytes create_event(std::uint32_t p, std::uint8_t version, std::uint64_t irp, std::uint64_t file_object,
                          std::u16string_view path) {
  PayloadBuilder b(p);
  b.pointer(irp);
  if (version == 0) b.pointer(0x7100);  // thread
  b.pointer(file_object);
  if (version != 0) b.u32(77);  // issuing thread id
  return b.u32(0x20).u32(0x80).u32(7).text(path).bytes();
}

// 14 Close.
inline Bytes close_event(std::uint32_t p, std::uint8_t version, std::uint64_t file_object, std::uint64_t file_key) {
  PayloadBuilder b(p);
  b.pointer(0x5000);
  if (version == 0) b.pointer(0x7100);
  b.pointer(file_object).pointer(file_key);
  if (version != 0) b.u32(77);
  return b.bytes();
}

// 15 Read / 16 Write.
inline Bytes io_event(std::uint32_t p, std::uint8_t version, std::uint64_t file_object, std::uint64_t file_key) {
  PayloadBuilder b(p);
  b.u64(4096).pointer(0x5000);
  if (version == 0) b.pointer(0x7100);
  b.pointer(file_object).pointer(file_key);
  if (version != 0) b.u32(77);
  b.u32(512).u32(0);
  if (version != 0) b.u32(0);
  return b.bytes();
}

// 24 OperationEnd (version 0).
inline Bytes operation_end_event(std::uint32_t p, std::uint64_t irp, std::uint32_t status) {
  return PayloadBuilder(p).pointer(irp).pointer(0).u32(status).bytes();
}

// 26 DeletePath / 27 RenamePath.
inline Bytes path_event(std::uint32_t p, std::uint8_t version, std::u16string_view path) {
  PayloadBuilder b(p);
  b.pointer(0x5000);
  if (version == 0) b.pointer(0x7100);
  b.pointer(0x9000).pointer(0x9100).pointer(0);
  if (version != 0) b.u32(77);
  return b.u32(10).text(path).bytes();
}

}  // namespace mirrow::test
