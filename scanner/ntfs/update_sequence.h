#pragma once
// Update-sequence fixups. A multi-sector record (file record, index block)
// is written with the last two bytes of every 512-byte stride replaced by a
// sequence number, the originals kept in an array in the header; a stride
// whose last bytes do not hold the number was not written with the rest
// (a torn write) and the record cannot be trusted.
#include <cstddef>
#include <cstdint>

namespace mirrow::ntfs {

constexpr std::size_t fixup_stride = 512;

// Checks every stride and puts the original bytes back; false (the record
// possibly half restored) when the array does not fit the header or a
// stride does not carry the sequence number.
bool apply_fixups(std::uint8_t* record, std::size_t size);

}  // namespace mirrow::ntfs
