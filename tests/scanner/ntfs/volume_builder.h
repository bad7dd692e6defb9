#pragma once
// A small NTFS volume made in memory for the table reader's tests: a boot
// sector, a master file table whose records the test writes attribute by
// attribute (fixups applied as the volume writes them), an upper-case table
// that upper-cases ASCII and Cyrillic, and a root folder. A test can then
// damage any byte of it.
#include <cstdint>
#include <string>
#include <vector>

#include "support/volume_images.h"

namespace mirrow::ntfs_test {

struct Shape {
  std::uint32_t sector_size = 512;
  std::uint32_t cluster_size = 4096;
  std::uint32_t record_size = 1024;
  std::uint32_t records = 64;        // records in the table
  std::uint64_t clusters = 512;      // the volume's size in clusters
  std::uint64_t table_cluster = 16;  // where the table starts
  bool fragmented = false;           // the table in two extents, the second named by an attribute list
  // The table's records ever written (its initialised size); 0: all of them.
  std::uint32_t initialized_records = 0;
};

constexpr std::int64_t some_time = 133000000000000000;  // 2022 in file time

class VolumeBuilder {
 public:
  explicit VolumeBuilder(Shape shape = {});

  // Starts record `number` afresh (in use, sequence 1, the given folder flag),
  // in the layout of NTFS 3.1 on, which carries the record's own number.
  VolumeBuilder& record(std::uint64_t number, bool directory = false, std::uint16_t sequence = 1);
  // Right after record(): the older layout of NTFS 3.0 instead, whose update
  // sequence array starts at 0x2A, where the number would be.
  VolumeBuilder& older_layout();
  VolumeBuilder& base(std::uint64_t base_record, std::uint16_t base_sequence = 1);
  VolumeBuilder& information(std::int64_t write_time = some_time, std::int64_t creation_time = some_time - 10000000,
                             std::uint32_t attributes = 0);
  // parent_sequence 0: the root's (5) for the root, else 1, as record() gives.
  VolumeBuilder& name(std::uint64_t parent, const std::u16string& text, std::uint8_t name_space = 3,
                      std::uint16_t parent_sequence = 0);
  VolumeBuilder& data(std::uint64_t size, bool resident = false, const std::u16string& stream = u"",
                      std::uint64_t lowest_vcn = 0);
  VolumeBuilder& reparse_point(std::uint32_t tag = 0xA0000003);
  struct ListItem {
    std::uint32_t type;
    std::uint64_t record;
    std::uint64_t lowest_vcn = 0;
  };
  VolumeBuilder& attribute_list(const std::vector<ListItem>& items);
  // Writes the record being built into the table.
  VolumeBuilder& done();
  VolumeBuilder& free_record(std::uint64_t number);
  // Copies record `from`'s bytes, as they are, to record `to`'s place.
  VolumeBuilder& copy_record(std::uint64_t from, std::uint64_t to);
  // Writes the table's first record again with other data runs.
  VolumeBuilder& table_runs(const std::vector<std::uint8_t>& runs);

  // A folder or file under parent with standard information, one Win32 name and (files) data.
  VolumeBuilder& folder(std::uint64_t number, std::uint64_t parent, const std::u16string& text);
  VolumeBuilder& file(std::uint64_t number, std::uint64_t parent, const std::u16string& text, std::uint64_t size,
                      std::int64_t write_time = some_time);

  // Byte offset of a record in the volume.
  std::uint64_t record_offset(std::uint64_t number) const;
  testing::MemoryVolume& volume() { return volume_; }
  const Shape& shape() const { return shape_; }

 private:
  void write_boot_sector();
  void write_table_record();
  void write_upcase();
  void write_root();
  void attribute(std::uint32_t type, const std::vector<std::uint8_t>& value, const std::u16string& name = u"");
  void non_resident(std::uint32_t type, const std::u16string& name, std::uint64_t lowest_vcn, std::uint64_t size,
                    const std::vector<std::uint8_t>& runs, std::uint64_t initialized = UINT64_MAX);
  std::uint64_t table_initialized_size() const;
  std::uint64_t upcase_cluster() const;
  std::uint64_t table_clusters() const;
  std::uint64_t second_extent_cluster() const;

  Shape shape_;
  testing::MemoryVolume volume_;
  std::uint64_t number_ = 0;
  std::vector<std::uint8_t> current_;
  std::size_t used_ = 0;
  std::uint16_t next_id_ = 0;
};

// Data runs for a list of (clusters, lcn) pairs; lcn -1 makes a sparse run.
std::vector<std::uint8_t> runs_for(const std::vector<std::pair<std::uint64_t, std::int64_t>>& runs);

}  // namespace mirrow::ntfs_test
