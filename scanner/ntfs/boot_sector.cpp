#include "scanner/ntfs/boot_sector.h"

#include <cstring>

#include "scanner/ntfs/little_endian.h"

namespace mirrow::ntfs {
namespace {

bool power_of_two(std::uint64_t value) { return value != 0 && (value & (value - 1)) == 0; }

// Sectors per cluster: a count up to 128, or above it a negative power of
// two, 2^-(n) as a signed byte (0xF4 = 4096 sectors), as large clusters are
// written.
std::uint64_t cluster_bytes(std::uint8_t code, std::uint32_t sector_size) {
  if (code <= 0x80) return static_cast<std::uint64_t>(code) * sector_size;
  const int shift = 256 - code;
  if (shift > 20) return 0;
  return (std::uint64_t{1} << shift) * sector_size;
}

// Clusters per file record: a positive count, or a negative byte giving the
// record's size as 2^-(n) bytes (0xF6 = 1024).
std::uint64_t record_bytes(std::int8_t code, std::uint64_t cluster_size) {
  if (code > 0) return static_cast<std::uint64_t>(code) * cluster_size;
  const int shift = -code;
  if (shift < 9 || shift > 16) return 0;
  return std::uint64_t{1} << shift;
}

}  // namespace

const char* parse_boot_sector(const std::uint8_t* bytes, std::size_t length, Geometry& geometry) {
  if (length < 512) return "the volume is shorter than a boot sector";
  if (std::memcmp(bytes + 3, "NTFS    ", 8) != 0) return "not an NTFS boot sector";
  if (bytes[510] != 0x55 || bytes[511] != 0xAA) return "the boot sector lacks its signature";
  const std::uint32_t sector_size = le16(bytes + 0x0B);
  if (!power_of_two(sector_size) || sector_size < 512 || sector_size > 4096) return "unsupported sector size";
  const std::uint64_t cluster_size = cluster_bytes(bytes[0x0D], sector_size);
  if (!power_of_two(cluster_size) || cluster_size > (std::uint64_t{2} << 20)) return "unsupported cluster size";
  const std::uint64_t record_size = record_bytes(static_cast<std::int8_t>(bytes[0x40]), cluster_size);
  if (!power_of_two(record_size) || record_size < 512 || record_size > 65536 || record_size < sector_size)
    return "unsupported file record size";
  const std::uint64_t total_sectors = le64(bytes + 0x28);
  if (total_sectors == 0 || total_sectors > (UINT64_MAX / sector_size) - 1) return "bad volume size";
  const std::uint64_t table_cluster = le64(bytes + 0x30);
  const std::uint64_t total_clusters = total_sectors * sector_size / cluster_size;
  if (table_cluster == 0 || table_cluster >= total_clusters) return "the table's first cluster lies past the volume";
  geometry.sector_size = sector_size;
  geometry.cluster_size = static_cast<std::uint32_t>(cluster_size);
  geometry.record_size = static_cast<std::uint32_t>(record_size);
  geometry.total_clusters = total_clusters;
  geometry.volume_size = (total_sectors + 1) * sector_size;
  geometry.table_offset = table_cluster * cluster_size;
  return nullptr;
}

}  // namespace mirrow::ntfs
