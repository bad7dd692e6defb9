#include "scanner/ntfs/table_source.h"

#include <algorithm>
#include <cstring>

#include "scanner/ntfs/attribute_list.h"
#include "scanner/ntfs/file_record.h"

namespace mirrow::ntfs {
namespace {

std::uint64_t round_up(std::uint64_t value, std::uint64_t unit) { return (value + unit - 1) / unit * unit; }

}  // namespace

const char* TableSource::open(const VolumeReader& reader) {
  reader_ = reader;
  if (const char* refusal = read_geometry()) return refusal;
  if (const char* refusal = read_extents()) return refusal;
  return read_upcase();
}

const char* TableSource::read_geometry() {
  if (reader_.size < boot_sector_read_size) return "the volume is too small for NTFS";
  AlignedBuffer boot(boot_sector_read_size);
  if (!read_volume(reader_, reader_.size, 0, boot.data(), boot.size())) return "the boot sector cannot be read";
  if (const char* refusal = parse_boot_sector(boot.data(), boot.size(), geometry_)) return refusal;
  // The backup boot sector after the last sector may be cut off; anything
  // more means data the table points to is missing.
  if (reader_.size < geometry_.volume_size - geometry_.sector_size) return "the volume is shorter than its boot sector says";
  volume_size_ = std::min(reader_.size, geometry_.volume_size);
  return nullptr;
}

const char* TableSource::read_extents() {
  AlignedBuffer record(geometry_.record_size);
  if (!read_volume(reader_, volume_size_, geometry_.table_offset, record.data(), record.size()))
    return "the table's first record cannot be read";
  RecordFacts facts;
  if (parse_record(record.data(), record.size(), record_table, facts) != RecordProblem::none || !facts.is_base())
    return "the table's first record is damaged";
  if (!facts.data.present || facts.data.resident || facts.data.lowest_vcn != 0 || !facts.has_size)
    return "the table's first record has no data runs";
  table_size_ = facts.size;
  // Records past the initialised size were never written in this table:
  // whatever its clusters still hold (an older table's records after a
  // quick format) is no record of it, and Windows reads them as zeros.
  initialized_size_ = std::min(facts.size, facts.data.initialized_size);
  if (decode_runs(facts.data.bytes, facts.data.length, 0, geometry_.total_clusters, max_table_extents, extents_) !=
      RunProblem::none)
    return "the table's data runs are damaged or lie past the volume's end";
  if (facts.attribute_list.present) {
    std::vector<std::uint8_t> list;
    if (!read_value(facts.attribute_list, max_attribute_list_bytes, list)) return "the table's attribute list cannot be read";
    if (const char* refusal = add_listed_extents(list)) return refusal;
  }
  std::uint64_t clusters = 0;
  for (const Extent& extent : extents_) {
    if (extent.lcn == sparse_cluster || extent.first_vcn != clusters) return "the table's data runs have gaps";
    clusters += extent.clusters;
  }
  if (table_size_ / geometry_.cluster_size > clusters) return "the table is larger than its data runs";
  record_count_ = initialized_size_ / geometry_.record_size;
  if (record_count_ <= first_user_record) return "the table is too short";
  return nullptr;
}

// The table's later extents, held in records that its attribute list names;
// each is read through the extents known before it.
const char* TableSource::add_listed_extents(const std::vector<std::uint8_t>& list) {
  std::vector<ListEntry> entries;
  if (!parse_attribute_list(list.data(), list.size(), max_table_extents, entries))
    return "the table's attribute list is damaged";
  std::erase_if(entries, [](const ListEntry& entry) {
    return entry.type != attribute_data || entry.name_length != 0 || entry.lowest_vcn == 0;
  });
  std::sort(entries.begin(), entries.end(),
            [](const ListEntry& a, const ListEntry& b) { return a.lowest_vcn < b.lowest_vcn; });
  AlignedBuffer record(geometry_.record_size);
  for (const ListEntry& entry : entries) {
    const std::uint64_t next_vcn = extents_.empty() ? 0 : extents_.back().first_vcn + extents_.back().clusters;
    if (entry.lowest_vcn != next_vcn) return "the table's attribute list leaves a gap";
    const std::uint64_t number = record_number_of(entry.reference);
    if (!read_record(number, record)) return "a record of the table's runs cannot be read";
    RecordFacts facts;
    if (parse_record(record.data(), record.size(), number, facts) != RecordProblem::none || !facts.data.present ||
        facts.data.resident || facts.data.lowest_vcn != entry.lowest_vcn)
      return "a record of the table's runs is damaged";
    if (decode_runs(facts.data.bytes, facts.data.length, entry.lowest_vcn, geometry_.total_clusters, max_table_extents,
                    extents_) != RunProblem::none)
      return "the table's data runs are damaged or lie past the volume's end";
  }
  return nullptr;
}

const char* TableSource::read_upcase() {
  AlignedBuffer record(geometry_.record_size);
  if (!read_record(record_upcase, record)) return "the upper-case table's record cannot be read";
  RecordFacts facts;
  if (parse_record(record.data(), record.size(), record_upcase, facts) != RecordProblem::none || !facts.data.present)
    return "the upper-case table's record is damaged";
  std::vector<std::uint8_t> table;
  if (!read_value(facts.data, 2 * upcase_units, table) || table.size() < 2 * 128)
    return "the upper-case table cannot be read";
  collation_ = Collation(table.data(), table.size());
  return nullptr;
}

bool TableSource::read_table_bytes(std::uint64_t offset, std::uint8_t* to, std::size_t length) const {
  const std::uint64_t cluster = geometry_.cluster_size;
  while (length > 0) {
    const std::uint64_t vcn = offset / cluster;
    auto extent = std::upper_bound(extents_.begin(), extents_.end(), vcn,
                                   [](std::uint64_t v, const Extent& e) { return v < e.first_vcn; });
    if (extent == extents_.begin()) return false;
    --extent;
    if (vcn >= extent->first_vcn + extent->clusters || extent->lcn == sparse_cluster) return false;
    const std::uint64_t within_extent = offset - extent->first_vcn * cluster;
    const std::uint64_t room = extent->clusters * cluster - within_extent;
    const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(room, length));
    if (!read_volume(reader_, volume_size_, extent->lcn * cluster + within_extent, to, piece)) return false;
    offset += piece;
    to += piece;
    length -= piece;
  }
  return true;
}

bool TableSource::read_record(std::uint64_t number, AlignedBuffer& buffer) const {
  buffer.resize(geometry_.record_size);
  if (number > UINT64_MAX / geometry_.record_size) return false;
  return read_table_bytes(number * geometry_.record_size, buffer.data(), buffer.size());
}

bool TableSource::read_records(std::uint64_t first, std::size_t count, AlignedBuffer& buffer) const {
  if (first > record_count_ || count > record_count_ - first) return false;
  buffer.resize(count * geometry_.record_size);
  return read_table_bytes(first * geometry_.record_size, buffer.data(), buffer.size());
}

bool TableSource::read_value(const AttributeValue& value, std::size_t max, std::vector<std::uint8_t>& out) const {
  if (value.resident) {
    if (value.length > max) return false;
    out.assign(value.bytes, value.bytes + value.length);
    return true;
  }
  if (value.lowest_vcn != 0 || value.data_size > max) return false;
  std::vector<Extent> runs;
  if (decode_runs(value.bytes, value.length, 0, geometry_.total_clusters, 256, runs) != RunProblem::none) return false;
  const std::uint64_t cluster = geometry_.cluster_size;
  AlignedBuffer bytes(static_cast<std::size_t>(round_up(value.data_size, cluster)));
  std::uint64_t done = 0;
  for (const Extent& run : runs) {
    if (done >= bytes.size()) break;
    const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(run.clusters * cluster, bytes.size() - done));
    if (run.lcn == sparse_cluster) {
      std::memset(bytes.data() + done, 0, piece);
    } else if (!read_volume(reader_, volume_size_, run.lcn * cluster, bytes.data() + done, piece)) {
      return false;
    }
    done += piece;
  }
  if (done < value.data_size) return false;
  // Beyond the initialised size the value is zeros, whatever the clusters hold.
  const std::uint64_t written = std::min(value.initialized_size, value.data_size);
  std::memset(bytes.data() + written, 0, static_cast<std::size_t>(value.data_size - written));
  out.assign(bytes.data(), bytes.data() + value.data_size);
  return true;
}

}  // namespace mirrow::ntfs
