#pragma once
// An attribute list: for a file whose attributes do not fit one record
// (many names, many fragments), which record holds which attribute, or
// which piece of it from which cluster on.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace mirrow::ntfs {

struct ListEntry {
  std::uint32_t type = 0;
  std::uint8_t name_length = 0;
  std::uint64_t lowest_vcn = 0;
  std::uint64_t reference = 0;  // file reference of the record holding it
};

// Appends the entries of a list's bytes to out (at most max_entries in all);
// false when an entry runs past the list, has a bad length or the cap is hit.
bool parse_attribute_list(const std::uint8_t* bytes, std::size_t length, std::size_t max_entries,
                          std::vector<ListEntry>& out);

}  // namespace mirrow::ntfs
