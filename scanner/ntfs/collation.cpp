#include "scanner/ntfs/collation.h"

#include <algorithm>

#include "scanner/ntfs/little_endian.h"

namespace mirrow::ntfs {

Collation::Collation() : table_(upcase_units) {
  for (std::size_t i = 0; i < upcase_units; ++i) table_[i] = static_cast<char16_t>(i);
}

Collation::Collation(const std::uint8_t* bytes, std::size_t length) : Collation() {
  const std::size_t units = std::min(length / 2, upcase_units);
  for (std::size_t i = 0; i < units; ++i) table_[i] = static_cast<char16_t>(le16(bytes + 2 * i));
}

int Collation::compare(const char16_t* a, std::size_t a_length, const char16_t* b, std::size_t b_length) const {
  const std::size_t common = a_length < b_length ? a_length : b_length;
  int case_difference = 0;
  for (std::size_t i = 0; i < common; ++i) {
    if (a[i] == b[i]) continue;
    const char16_t ua = table_[a[i]];
    const char16_t ub = table_[b[i]];
    if (ua != ub) return ua < ub ? -1 : 1;
    if (case_difference == 0) case_difference = a[i] < b[i] ? -1 : 1;
  }
  if (a_length != b_length) return a_length < b_length ? -1 : 1;
  return case_difference;
}

bool Collation::equal_ignoring_case(const char16_t* a, std::size_t a_length, const char16_t* b,
                                    std::size_t b_length) const {
  if (a_length != b_length) return false;
  for (std::size_t i = 0; i < a_length; ++i) {
    if (a[i] != b[i] && table_[a[i]] != table_[b[i]]) return false;
  }
  return true;
}

}  // namespace mirrow::ntfs
