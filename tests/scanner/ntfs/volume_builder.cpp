#include "tests/scanner/ntfs/volume_builder.h"

#include <algorithm>
#include <cstring>

namespace mirrow::ntfs_test {
namespace {

void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v) {
  for (int i = 0; i < 2; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void put64(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::size_t align8(std::size_t v) { return (v + 7) & ~std::size_t{7}; }

constexpr std::size_t upcase_bytes = 131072;

}  // namespace

std::vector<std::uint8_t> runs_for(const std::vector<std::pair<std::uint64_t, std::int64_t>>& runs) {
  std::vector<std::uint8_t> out;
  std::int64_t previous = 0;
  for (const auto& [clusters, lcn] : runs) {
    std::vector<std::uint8_t> length_bytes;
    for (std::uint64_t v = clusters; v != 0; v >>= 8) length_bytes.push_back(static_cast<std::uint8_t>(v));
    std::vector<std::uint8_t> offset_bytes;
    if (lcn >= 0) {
      std::int64_t delta = lcn - previous;
      previous = lcn;
      do {
        offset_bytes.push_back(static_cast<std::uint8_t>(delta));
        delta >>= 8;
      } while (!((delta == 0 && !(offset_bytes.back() & 0x80)) || (delta == -1 && (offset_bytes.back() & 0x80))));
    }
    out.push_back(static_cast<std::uint8_t>(length_bytes.size() | (offset_bytes.size() << 4)));
    out.insert(out.end(), length_bytes.begin(), length_bytes.end());
    out.insert(out.end(), offset_bytes.begin(), offset_bytes.end());
  }
  out.push_back(0);
  return out;
}

VolumeBuilder::VolumeBuilder(Shape shape) : shape_(shape) {
  volume_.bytes.assign(shape_.clusters * shape_.cluster_size, 0);
  write_boot_sector();
  write_table_record();
  write_upcase();
  write_root();
}

std::uint64_t VolumeBuilder::table_clusters() const {
  return (static_cast<std::uint64_t>(shape_.records) * shape_.record_size + shape_.cluster_size - 1) / shape_.cluster_size;
}

std::uint64_t VolumeBuilder::table_initialized_size() const {
  const std::uint32_t records = shape_.initialized_records ? shape_.initialized_records : shape_.records;
  return static_cast<std::uint64_t>(records) * shape_.record_size;
}

std::uint64_t VolumeBuilder::second_extent_cluster() const { return shape_.table_cluster + table_clusters() + 8; }

std::uint64_t VolumeBuilder::upcase_cluster() const {
  return shape_.clusters - upcase_bytes / shape_.cluster_size - 1;
}

std::uint64_t VolumeBuilder::record_offset(std::uint64_t number) const {
  const std::uint64_t offset = number * shape_.record_size;
  const std::uint64_t half = table_clusters() / 2 * shape_.cluster_size;
  if (!shape_.fragmented || offset < half) return shape_.table_cluster * shape_.cluster_size + offset;
  return second_extent_cluster() * shape_.cluster_size + (offset - half);
}

void VolumeBuilder::write_boot_sector() {
  std::vector<std::uint8_t>& b = volume_.bytes;
  b[0] = 0xEB;
  b[1] = 0x52;
  b[2] = 0x90;
  std::memcpy(&b[3], "NTFS    ", 8);
  put16(b, 0x0B, shape_.sector_size);
  const std::uint32_t sectors_per_cluster = shape_.cluster_size / shape_.sector_size;
  b[0x0D] = static_cast<std::uint8_t>(sectors_per_cluster);
  put64(b, 0x28, b.size() / shape_.sector_size - 1);
  put64(b, 0x30, shape_.table_cluster);
  put64(b, 0x38, 2);
  if (shape_.record_size >= shape_.cluster_size) {
    b[0x40] = static_cast<std::uint8_t>(shape_.record_size / shape_.cluster_size);
  } else {
    int shift = 0;
    while ((1u << shift) < shape_.record_size) ++shift;
    b[0x40] = static_cast<std::uint8_t>(-shift);
  }
  b[0x44] = 1;
  b[510] = 0x55;
  b[511] = 0xAA;
}

void VolumeBuilder::write_table_record() {
  const std::uint64_t table_size = static_cast<std::uint64_t>(shape_.records) * shape_.record_size;
  const std::uint64_t clusters = table_clusters();
  record(0).information().name(5, u"$MFT", 3, 5);
  if (!shape_.fragmented) {
    non_resident(0x80, u"", 0, table_size, runs_for({{clusters, static_cast<std::int64_t>(shape_.table_cluster)}}),
                 table_initialized_size());
    done();
    return;
  }
  const std::uint64_t half = clusters / 2;
  attribute_list({{0x10, 0}, {0x30, 0}, {0x80, 0, 0}, {0x80, 15, half}});
  non_resident(0x80, u"", 0, table_size, runs_for({{half, static_cast<std::int64_t>(shape_.table_cluster)}}),
               table_initialized_size());
  done();
  record(15).base(0, 1);
  non_resident(0x80, u"", half, table_size,
               runs_for({{clusters - half, static_cast<std::int64_t>(second_extent_cluster())}}));
  done();
}

void VolumeBuilder::write_upcase() {
  std::vector<std::uint8_t>& b = volume_.bytes;
  const std::uint64_t at = upcase_cluster() * shape_.cluster_size;
  for (std::uint32_t unit = 0; unit < 65536; ++unit) {
    std::uint32_t upper = unit;
    if (unit >= u'a' && unit <= u'z') upper = unit - 32;
    if (unit >= 0x430 && unit <= 0x44F) upper = unit - 32;  // Cyrillic а..я
    put16(b, at + 2 * unit, upper);
  }
  record(10).information().name(5, u"$UpCase", 3, 5);
  non_resident(0x80, u"", 0, upcase_bytes,
               runs_for({{upcase_bytes / shape_.cluster_size, static_cast<std::int64_t>(upcase_cluster())}}));
  done();
}

void VolumeBuilder::write_root() { record(5, true, 5).information().name(5, u".", 3, 5).done(); }

VolumeBuilder& VolumeBuilder::record(std::uint64_t number, bool directory, std::uint16_t sequence) {
  number_ = number;
  current_.assign(shape_.record_size, 0);
  std::memcpy(current_.data(), "FILE", 4);
  const std::size_t count = shape_.record_size / 512 + 1;
  put16(current_, 4, 0x30);
  put16(current_, 6, count);
  put16(current_, 0x10, sequence);
  put16(current_, 0x12, 1);
  used_ = align8(0x30 + 2 * count);
  put16(current_, 0x14, used_);
  put16(current_, 0x16, directory ? 3 : 1);
  put32(current_, 0x1C, shape_.record_size);
  put32(current_, 0x2C, number);
  next_id_ = 0;
  return *this;
}

VolumeBuilder& VolumeBuilder::older_layout() {
  const std::size_t count = shape_.record_size / 512 + 1;
  put16(current_, 4, 0x2A);
  put32(current_, 0x2C, 0);
  used_ = align8(0x2A + 2 * count);
  put16(current_, 0x14, used_);
  return *this;
}

VolumeBuilder& VolumeBuilder::base(std::uint64_t base_record, std::uint16_t base_sequence) {
  put64(current_, 0x20, base_record | (static_cast<std::uint64_t>(base_sequence) << 48));
  return *this;
}

void VolumeBuilder::attribute(std::uint32_t type, const std::vector<std::uint8_t>& value, const std::u16string& name) {
  const std::size_t value_offset = align8(0x18 + 2 * name.size());
  const std::size_t length = align8(value_offset + value.size());
  put32(current_, used_, type);
  put32(current_, used_ + 4, length);
  current_[used_ + 8] = 0;
  current_[used_ + 9] = static_cast<std::uint8_t>(name.size());
  put16(current_, used_ + 10, 0x18);
  put16(current_, used_ + 14, next_id_++);
  put32(current_, used_ + 0x10, value.size());
  put16(current_, used_ + 0x14, value_offset);
  for (std::size_t i = 0; i < name.size(); ++i) put16(current_, used_ + 0x18 + 2 * i, name[i]);
  if (!value.empty()) std::memcpy(&current_[used_ + value_offset], value.data(), value.size());
  used_ += length;
}

void VolumeBuilder::non_resident(std::uint32_t type, const std::u16string& name, std::uint64_t lowest_vcn,
                                 std::uint64_t size, const std::vector<std::uint8_t>& runs, std::uint64_t initialized) {
  const std::size_t runs_offset = align8(0x40 + 2 * name.size());
  const std::size_t length = align8(runs_offset + runs.size());
  put32(current_, used_, type);
  put32(current_, used_ + 4, length);
  current_[used_ + 8] = 1;
  current_[used_ + 9] = static_cast<std::uint8_t>(name.size());
  put16(current_, used_ + 10, 0x40);
  put16(current_, used_ + 14, next_id_++);
  put64(current_, used_ + 0x10, lowest_vcn);
  put16(current_, used_ + 0x20, runs_offset);
  const std::uint64_t allocated = (size + shape_.cluster_size - 1) / shape_.cluster_size * shape_.cluster_size;
  put64(current_, used_ + 0x28, allocated);
  put64(current_, used_ + 0x30, size);
  put64(current_, used_ + 0x38, std::min(size, initialized));
  for (std::size_t i = 0; i < name.size(); ++i) put16(current_, used_ + 0x40 + 2 * i, name[i]);
  std::memcpy(&current_[used_ + runs_offset], runs.data(), runs.size());
  used_ += length;
}

VolumeBuilder& VolumeBuilder::information(std::int64_t write_time, std::int64_t creation_time, std::uint32_t attributes) {
  std::vector<std::uint8_t> value(0x48, 0);
  put64(value, 0, static_cast<std::uint64_t>(creation_time));
  put64(value, 8, static_cast<std::uint64_t>(write_time));
  put64(value, 16, static_cast<std::uint64_t>(write_time));
  put64(value, 24, static_cast<std::uint64_t>(write_time));
  put32(value, 32, attributes);
  attribute(0x10, value);
  return *this;
}

VolumeBuilder& VolumeBuilder::name(std::uint64_t parent, const std::u16string& text, std::uint8_t name_space,
                                   std::uint16_t parent_sequence) {
  if (parent_sequence == 0) parent_sequence = parent == 5 ? 5 : 1;
  std::vector<std::uint8_t> value(0x42 + 2 * text.size(), 0);
  put64(value, 0, parent | (static_cast<std::uint64_t>(parent_sequence) << 48));
  value[0x40] = static_cast<std::uint8_t>(text.size());
  value[0x41] = name_space;
  for (std::size_t i = 0; i < text.size(); ++i) put16(value, 0x42 + 2 * i, text[i]);
  attribute(0x30, value);
  return *this;
}

VolumeBuilder& VolumeBuilder::data(std::uint64_t size, bool resident, const std::u16string& stream,
                                   std::uint64_t lowest_vcn) {
  if (resident) {
    attribute(0x80, std::vector<std::uint8_t>(size, 0x61), stream);
  } else {
    // Sparse: the tests never read a file's clusters.
    const std::uint64_t clusters = (size + shape_.cluster_size - 1) / shape_.cluster_size;
    non_resident(0x80, stream, lowest_vcn, size, clusters ? runs_for({{clusters, -1}}) : runs_for({}));
  }
  return *this;
}

VolumeBuilder& VolumeBuilder::reparse_point(std::uint32_t tag) {
  std::vector<std::uint8_t> value(16, 0);
  put32(value, 0, tag);
  attribute(0xC0, value);
  return *this;
}

VolumeBuilder& VolumeBuilder::attribute_list(const std::vector<ListItem>& items) {
  std::vector<std::uint8_t> value;
  for (const ListItem& item : items) {
    std::vector<std::uint8_t> entry(0x20, 0);
    put32(entry, 0, item.type);
    put16(entry, 4, 0x20);
    entry[7] = 0x1A;
    put64(entry, 8, item.lowest_vcn);
    put64(entry, 0x10, item.record | (std::uint64_t{1} << 48));
    value.insert(value.end(), entry.begin(), entry.end());
  }
  attribute(0x20, value);
  return *this;
}

VolumeBuilder& VolumeBuilder::done() {
  put32(current_, used_, 0xFFFFFFFF);
  used_ += 8;
  put32(current_, 0x18, used_);
  const std::size_t count = shape_.record_size / 512 + 1;
  const std::size_t array = current_[4] | (current_[5] << 8);
  const std::uint16_t sequence_number = 7;
  put16(current_, array, sequence_number);
  for (std::size_t i = 0; i + 1 < count; ++i) {
    const std::size_t tail = (i + 1) * 512 - 2;
    current_[array + 2 + 2 * i] = current_[tail];
    current_[array + 3 + 2 * i] = current_[tail + 1];
    put16(current_, tail, sequence_number);
  }
  std::memcpy(&volume_.bytes[record_offset(number_)], current_.data(), current_.size());
  return *this;
}

VolumeBuilder& VolumeBuilder::table_runs(const std::vector<std::uint8_t>& runs) {
  record(0).information().name(5, u"$MFT", 3, 5);
  non_resident(0x80, u"", 0, static_cast<std::uint64_t>(shape_.records) * shape_.record_size, runs,
               table_initialized_size());
  return done();
}

VolumeBuilder& VolumeBuilder::free_record(std::uint64_t number) {
  const std::uint64_t at = record_offset(number);
  volume_.bytes[at + 0x16] &= static_cast<std::uint8_t>(~1);
  return *this;
}

VolumeBuilder& VolumeBuilder::copy_record(std::uint64_t from, std::uint64_t to) {
  auto& bytes = volume_.bytes;
  std::memmove(&bytes[record_offset(to)], &bytes[record_offset(from)], shape_.record_size);
  return *this;
}

VolumeBuilder& VolumeBuilder::folder(std::uint64_t number, std::uint64_t parent, const std::u16string& text) {
  return record(number, true).information().name(parent, text).done();
}

VolumeBuilder& VolumeBuilder::file(std::uint64_t number, std::uint64_t parent, const std::u16string& text,
                                   std::uint64_t size, std::int64_t write_time) {
  return record(number).information(write_time).name(parent, text).data(size).done();
}

}  // namespace mirrow::ntfs_test
