#pragma once
// The order in which an NTFS folder keeps its entries, and so the order a
// listing of it returns them in: names compared unit by unit after each
// unit went through the volume's own upper-case table ($UpCase, 65536
// units); among names equal that way the shorter first, then the first
// unit that differs in case decides.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace mirrow::ntfs {

constexpr std::size_t upcase_units = 65536;

class Collation {
 public:
  // The identity table: upper-casing is left to the volume's table.
  Collation();
  // The table from the $UpCase data (little-endian units); fewer bytes than
  // a full table leave the units beyond it as they are.
  Collation(const std::uint8_t* bytes, std::size_t length);

  char16_t upcase(char16_t unit) const { return table_[unit]; }

  // Negative, zero or positive as a comes before, equals or follows b.
  int compare(const char16_t* a, std::size_t a_length, const char16_t* b, std::size_t b_length) const;

  // True when the names are equal but for letter case.
  bool equal_ignoring_case(const char16_t* a, std::size_t a_length, const char16_t* b, std::size_t b_length) const;

 private:
  std::vector<char16_t> table_;
};

}  // namespace mirrow::ntfs
