#pragma once
// Builds the bytes of a directory-change buffer from readable records, the
// way the file system lays them out: each record 4-byte aligned, its next
// offset pointing at the following one, 0 in the last.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace mirrow::testing {

struct ChangeRecordSpec {
  std::uint32_t action;
  std::u16string name;
};

inline void put_u32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  std::memcpy(bytes.data() + at, &value, sizeof value);
}

inline std::vector<std::uint8_t> change_records(const std::vector<ChangeRecordSpec>& records) {
  std::vector<std::uint8_t> bytes;
  std::size_t previous = 0;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const std::size_t start = bytes.size();
    if (i > 0) put_u32(bytes, previous, static_cast<std::uint32_t>(start - previous));
    const std::size_t name_bytes = records[i].name.size() * 2;
    bytes.resize(start + ((12 + name_bytes + 3) & ~std::size_t{3}), 0);
    put_u32(bytes, start + 4, records[i].action);
    put_u32(bytes, start + 8, static_cast<std::uint32_t>(name_bytes));
    std::memcpy(bytes.data() + start + 12, records[i].name.data(), name_bytes);
    previous = start;
  }
  return bytes;
}

}  // namespace mirrow::testing
