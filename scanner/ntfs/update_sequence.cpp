#include "scanner/ntfs/update_sequence.h"

#include "scanner/ntfs/little_endian.h"

namespace mirrow::ntfs {

bool apply_fixups(std::uint8_t* record, std::size_t size) {
  if (size < fixup_stride || size % fixup_stride != 0) return false;
  const std::size_t array_offset = le16(record + 4);
  const std::size_t count = le16(record + 6);
  const std::size_t strides = size / fixup_stride;
  // One number and one saved pair per stride, all inside the first stride
  // (whose own last bytes are replaced, so the array must end before them).
  if (count != strides + 1 || array_offset < 8 || array_offset % 2 != 0 ||
      array_offset + 2 * count > fixup_stride - 2)
    return false;
  const std::uint8_t* array = record + array_offset;
  const std::uint16_t number = le16(array);
  for (std::size_t i = 0; i < strides; ++i) {
    std::uint8_t* tail = record + (i + 1) * fixup_stride - 2;
    if (le16(tail) != number) return false;
  }
  for (std::size_t i = 0; i < strides; ++i) {
    std::uint8_t* tail = record + (i + 1) * fixup_stride - 2;
    tail[0] = array[2 + 2 * i];
    tail[1] = array[3 + 2 * i];
  }
  return true;
}

}  // namespace mirrow::ntfs
