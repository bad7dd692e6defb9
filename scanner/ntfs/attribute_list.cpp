#include "scanner/ntfs/attribute_list.h"

#include "scanner/ntfs/little_endian.h"

namespace mirrow::ntfs {

bool parse_attribute_list(const std::uint8_t* bytes, std::size_t length, std::size_t max_entries,
                          std::vector<ListEntry>& out) {
  constexpr std::size_t entry_header = 0x1A;
  std::size_t at = 0;
  while (at < length) {
    if (length - at < entry_header) return false;
    const std::uint8_t* entry = bytes + at;
    const std::size_t entry_length = le16(entry + 4);
    const std::size_t name_end = entry[7] + 2 * static_cast<std::size_t>(entry[6]);
    if (entry_length < entry_header || entry_length > length - at || name_end > entry_length) return false;
    if (out.size() >= max_entries) return false;
    out.push_back({le32(entry), entry[6], le64(entry + 8), le64(entry + 0x10)});
    at += entry_length;
  }
  return true;
}

}  // namespace mirrow::ntfs
