#pragma once
// The geometry of an NTFS volume from its boot sector: sector, cluster and
// file-record sizes, the volume's size and where the master file table
// starts. Anything outside what the reader handles is refused with a reason.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace mirrow::ntfs {

// Bytes at the start of a volume that hold the boot sector whatever the
// sector size; the reader asks for this many (or the volume's size, if less).
constexpr std::size_t boot_sector_read_size = 4096;

struct Geometry {
  std::uint32_t sector_size = 0;   // 512 to 4096
  std::uint32_t cluster_size = 0;  // 512 B to 2 MiB, a multiple of the sector
  std::uint32_t record_size = 0;   // file record: 1024 or 4096 in practice, 512 to 64 KiB accepted
  std::uint64_t total_clusters = 0;
  std::uint64_t volume_size = 0;   // the bytes a read may reach: the sectors plus the backup boot sector
  std::uint64_t table_offset = 0;  // byte offset of the table's first record
};

// Fills geometry from the first bytes of a volume; returns null, or the
// reason the volume cannot be read this way ("not an NTFS boot sector", ...).
const char* parse_boot_sector(const std::uint8_t* bytes, std::size_t length, Geometry& geometry);

}  // namespace mirrow::ntfs
