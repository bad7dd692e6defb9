#pragma once
// The master file table of one volume as a sequence of records: its
// geometry from the boot sector, its extents from the data runs of its own
// first record (and of the records its attribute list names, when the table
// is fragmented beyond one record), and the volume's upper-case table. The
// records themselves are read in slices, in order, up to the table's
// initialised size: the records past it were never written.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "scanner/ntfs/aligned_buffer.h"
#include "scanner/ntfs/boot_sector.h"
#include "scanner/ntfs/collation.h"
#include "scanner/ntfs/file_record.h"
#include "scanner/ntfs/run_list.h"
#include "scanner/ntfs/volume_reader.h"

namespace mirrow::ntfs {

// Record numbers of the metadata files the reader uses.
constexpr std::uint64_t record_table = 0;
constexpr std::uint64_t record_upcase = 10;
constexpr std::uint64_t record_root = 5;
// Records below this hold the volume's metadata and are no folder's entries.
constexpr std::uint64_t first_user_record = 16;

// Caps on what a damaged table could make the reader hold.
constexpr std::size_t max_table_extents = 1u << 16;
constexpr std::size_t max_attribute_list_bytes = 1u << 20;

class TableSource {
 public:
  // Reads the geometry, the table's extents and the upper-case table;
  // returns null, or the reason the table cannot be read (the scanner then
  // walks instead).
  const char* open(const VolumeReader& reader);

  const Geometry& geometry() const { return geometry_; }
  // The records up to the table's initialised size.
  std::uint64_t record_count() const { return record_count_; }
  const Collation& collation() const { return collation_; }

  // Reads records [first, first + count) into buffer (resized to fit);
  // false when a read fails or the range lies past the table.
  bool read_records(std::uint64_t first, std::size_t count, AlignedBuffer& buffer) const;

 private:
  const char* read_geometry();
  const char* read_extents();
  const char* add_listed_extents(const std::vector<std::uint8_t>& list);
  const char* read_upcase();
  // Bytes [offset, offset + length) of the table, through its extents.
  bool read_table_bytes(std::uint64_t offset, std::uint8_t* to, std::size_t length) const;
  // One record through the extents known so far, fixups applied.
  bool read_record(std::uint64_t number, AlignedBuffer& buffer) const;
  // The whole value of an attribute, resident or not, up to max bytes.
  bool read_value(const AttributeValue& value, std::size_t max, std::vector<std::uint8_t>& out) const;

  VolumeReader reader_;
  Geometry geometry_;
  std::uint64_t volume_size_ = 0;
  std::vector<Extent> extents_;
  std::uint64_t table_size_ = 0;
  std::uint64_t initialized_size_ = 0;  // the part of the table ever written
  std::uint64_t record_count_ = 0;
  Collation collation_;
};

}  // namespace mirrow::ntfs
