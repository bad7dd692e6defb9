// The master file table's record, attribute-list and data-run parsers on
// any bytes.
//
// Input: one byte choosing the record size (bit 0 clear: 1024, set: 4096)
// and its place in the table (bit 1 clear: the number the record carries,
// set: the next one), then the record's bytes (cut or padded with zeros to
// that size); the bytes after the record are also read as a run list and
// an attribute list.
//
// Checked: nothing is read outside the record; a record placed elsewhere
// than its own number says is accepted only in the older layout, which
// carries no number; every fact a parsed record hands out points inside
// it; decoded runs lie within the volume given and follow one another; the
// attribute list is read to its end or refused.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "scanner/ntfs/attribute_list.h"
#include "scanner/ntfs/file_record.h"
#include "scanner/ntfs/little_endian.h"
#include "scanner/ntfs/run_list.h"

namespace {

using namespace mirrow::ntfs;

void require(bool condition) {
  if (!condition) std::abort();
}

bool inside(const std::uint8_t* p, std::size_t length, const std::uint8_t* begin, std::size_t size) {
  return p >= begin && length <= size && static_cast<std::size_t>(p - begin) <= size - length;
}

void check_runs(const std::uint8_t* bytes, std::size_t length, std::uint64_t first_vcn) {
  constexpr std::uint64_t total_clusters = 1u << 20;
  std::vector<Extent> runs;
  const RunProblem problem = decode_runs(bytes, length, first_vcn, total_clusters, 64, runs);
  require(runs.size() <= 64);
  std::uint64_t vcn = first_vcn;
  for (const Extent& run : runs) {
    require(run.first_vcn == vcn && run.clusters > 0);
    if (run.lcn != sparse_cluster) require(run.lcn < total_clusters && run.clusters <= total_clusters - run.lcn);
    vcn += run.clusters;
  }
  (void)problem;
}

void check_value(const AttributeValue& value, const std::uint8_t* record, std::size_t size) {
  if (!value.present) return;
  require(inside(value.bytes, value.length, record, size));
  if (!value.resident) check_runs(value.bytes, value.length, value.lowest_vcn);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t record_size = (data[0] & 1) ? 4096 : 1024;
  const bool placed_elsewhere = (data[0] & 2) != 0;
  ++data;
  --size;
  // An exact heap copy: a read past the record is caught.
  auto record = std::make_unique<std::uint8_t[]>(record_size);
  std::memset(record.get(), 0, record_size);
  std::memcpy(record.get(), data, std::min(size, record_size));
  // The number field and the update sequence offset lie before the first
  // stride's end, where fixups change nothing.
  const std::uint64_t own_number = le32(record.get() + 0x2C);
  const bool older_layout = le16(record.get() + 4) < 0x30;
  auto facts = std::make_unique<RecordFacts>();
  const RecordProblem problem =
      parse_record(record.get(), record_size, placed_elsewhere ? own_number + 1 : own_number, *facts);
  if (problem == RecordProblem::none) {
    require(!placed_elsewhere || older_layout);
    require(facts->name_count <= max_names_per_record);
    for (std::size_t i = 0; i < facts->name_count; ++i) {
      const NameFact& name = facts->names[i];
      require(name.length > 0 && inside(name.units, 2 * std::size_t{name.length}, record.get(), record_size));
    }
    check_value(facts->data, record.get(), record_size);
    check_value(facts->attribute_list, record.get(), record_size);
    if (facts->attribute_list.present && facts->attribute_list.resident) {
      std::vector<ListEntry> entries;
      parse_attribute_list(facts->attribute_list.bytes, facts->attribute_list.length, 256, entries);
      require(entries.size() <= 256);
    }
  }
  if (size > record_size) {
    const std::size_t rest = size - record_size;
    auto tail = std::make_unique<std::uint8_t[]>(rest);
    std::memcpy(tail.get(), data + record_size, rest);
    check_runs(tail.get(), rest, 0);
    std::vector<ListEntry> entries;
    parse_attribute_list(tail.get(), rest, 64, entries);
    require(entries.size() <= 64);
  }
  return 0;
}
