#pragma once
// The one way the table reader reaches a volume: read N bytes at an offset.
// The shipped library fills it with aligned, unbuffered reads of an open
// volume or with reads of an image file; tests fill it with a buffer. Every
// read goes through read_volume, which refuses anything outside the volume,
// so a damaged table can make the reader give up but never read elsewhere.
#include <cstddef>
#include <cstdint>

namespace mirrow::ntfs {

// Offsets and lengths the reader asks for are multiples of this whenever the
// volume's sector size divides them; buffers are aligned to it too, as
// unbuffered reads of a volume need.
constexpr std::size_t volume_alignment = 4096;

struct VolumeReader {
  void* context = nullptr;
  // Reads exactly length bytes at offset into buffer; false when it cannot.
  bool (*read)(void* context, std::uint64_t offset, void* buffer, std::size_t length) = nullptr;
  // Bytes the reader can reach from offset 0 on.
  std::uint64_t size = 0;
};

// True when [offset, offset + length) lies within limit (overflow-safe).
inline bool within(std::uint64_t offset, std::uint64_t length, std::uint64_t limit) {
  return offset <= limit && length <= limit - offset;
}

// A read that is refused unless it lies within both the reader's reach and
// the volume's own size.
inline bool read_volume(const VolumeReader& reader, std::uint64_t volume_size, std::uint64_t offset, void* buffer,
                        std::size_t length) {
  if (reader.read == nullptr) return false;
  if (!within(offset, length, reader.size) || !within(offset, length, volume_size)) return false;
  return reader.read(reader.context, offset, buffer, length);
}

}  // namespace mirrow::ntfs
