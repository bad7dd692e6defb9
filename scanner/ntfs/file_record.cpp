#include "scanner/ntfs/file_record.h"

#include <cstring>

#include "scanner/ntfs/little_endian.h"
#include "scanner/ntfs/update_sequence.h"

namespace mirrow::ntfs {
namespace {

constexpr std::size_t header_size = 0x30;
// The record's own number (its low 32 bits) sits at 0x2C, in records whose
// update sequence array starts at 0x30 or later; in the older layout the
// array starts at 0x2A and these bytes are part of it.
constexpr std::size_t own_number_offset = 0x2C;
constexpr std::size_t own_number_header_end = 0x30;
constexpr std::size_t resident_header = 0x18;
constexpr std::size_t non_resident_header = 0x40;
constexpr std::size_t information_size = 0x24;  // times and attributes
constexpr std::size_t file_name_header = 0x42;

// One attribute's header, checked against the bytes it lies in.
struct Attribute {
  std::uint32_t type = 0;
  bool resident = true;
  std::size_t name_length = 0;
  const std::uint8_t* value = nullptr;  // resident value or run list
  std::size_t value_length = 0;
  std::uint64_t lowest_vcn = 0;
  std::uint64_t data_size = 0;
  std::uint64_t initialized_size = 0;
};

bool read_attribute(const std::uint8_t* at, std::size_t room, Attribute& out) {
  if (room < 16) return false;
  const std::size_t length = le32(at + 4);
  if (length < 16 || length > room) return false;
  out.type = le32(at);
  out.resident = at[8] == 0;
  out.name_length = at[9];
  const std::size_t name_offset = le16(at + 10);
  if (out.name_length != 0 && name_offset + 2 * out.name_length > length) return false;
  if (out.resident) {
    if (length < resident_header) return false;
    const std::size_t value_length = le32(at + 0x10);
    const std::size_t value_offset = le16(at + 0x14);
    if (value_offset > length || value_length > length - value_offset) return false;
    out.value = at + value_offset;
    out.value_length = value_length;
    out.lowest_vcn = 0;
    out.data_size = value_length;
    out.initialized_size = value_length;
    return true;
  }
  if (length < non_resident_header) return false;
  const std::size_t runs_offset = le16(at + 0x20);
  if (runs_offset < non_resident_header || runs_offset > length) return false;
  out.value = at + runs_offset;
  out.value_length = length - runs_offset;
  out.lowest_vcn = le64(at + 0x10);
  out.data_size = le64(at + 0x30);
  out.initialized_size = le64(at + 0x38);
  return true;
}

AttributeValue value_of(const Attribute& attribute) {
  return {true,
          attribute.resident,
          attribute.value,
          attribute.value_length,
          attribute.lowest_vcn,
          attribute.data_size,
          attribute.initialized_size};
}

bool take_information(const Attribute& attribute, RecordFacts& facts) {
  if (!attribute.resident || attribute.value_length < information_size) return false;
  facts.has_information = true;
  facts.creation_time = static_cast<std::int64_t>(le64(attribute.value));
  facts.write_time = static_cast<std::int64_t>(le64(attribute.value + 8));
  facts.file_attributes = le32(attribute.value + 0x20);
  return true;
}

bool take_name(const Attribute& attribute, RecordFacts& facts) {
  if (!attribute.resident || attribute.value_length < file_name_header) return false;
  const std::uint8_t length = attribute.value[0x40];
  if (file_name_header + 2 * static_cast<std::size_t>(length) > attribute.value_length || length == 0) return false;
  if (facts.name_count >= max_names_per_record) return false;
  NameFact& name = facts.names[facts.name_count++];
  name.parent = le64(attribute.value);
  name.units = attribute.value + file_name_header;
  name.length = length;
  name.name_space = attribute.value[0x41];
  return true;
}

void take_data(const Attribute& attribute, RecordFacts& facts) {
  if (!facts.data.present) facts.data = value_of(attribute);
  if (attribute.lowest_vcn == 0 && !facts.has_size) {
    facts.has_size = true;
    facts.size = attribute.data_size;
  }
}

bool take_attribute(const Attribute& attribute, RecordFacts& facts) {
  switch (attribute.type) {
    case attribute_standard_information: return take_information(attribute, facts);
    case attribute_file_name: return take_name(attribute, facts);
    case attribute_attribute_list:
      if (!facts.attribute_list.present) facts.attribute_list = value_of(attribute);
      return true;
    case attribute_data:
      if (attribute.name_length == 0) take_data(attribute, facts);
      return true;
    case attribute_reparse_point_type:
      facts.reparse_point = true;
      if (attribute.resident && attribute.value_length >= 4) facts.reparse_tag = le32(attribute.value);
      return true;
    default: return true;
  }
}

// Windows refuses such a record as corrupt: it is another record's copy (a
// misdirected write, or a table laid over an older one).
bool carries_other_number(const std::uint8_t* record, std::uint64_t number) {
  if (le16(record + 4) < own_number_header_end) return false;
  return le32(record + own_number_offset) != static_cast<std::uint32_t>(number);
}

}  // namespace

const char* record_problem_text(RecordProblem problem) {
  switch (problem) {
    case RecordProblem::none: return "no problem";
    case RecordProblem::not_in_use: return "not in use";
    case RecordProblem::bad_signature: return "not a file record";
    case RecordProblem::fixup: return "update sequence mismatch";
    case RecordProblem::bad_header: return "bad record header";
    case RecordProblem::bad_attribute: return "an attribute runs past its record";
    case RecordProblem::wrong_number: return "its record number disagrees with its place in the table";
  }
  return "bad record";
}

RecordProblem peek_record(const std::uint8_t* record, std::size_t size) {
  if (size < header_size || std::memcmp(record, "FILE", 4) != 0) return RecordProblem::bad_signature;
  if ((le16(record + 0x16) & 0x0001) == 0) return RecordProblem::not_in_use;
  return RecordProblem::none;
}

RecordProblem parse_record(std::uint8_t* record, std::size_t size, std::uint64_t number, RecordFacts& facts) {
  if (const RecordProblem peeked = peek_record(record, size); peeked != RecordProblem::none) return peeked;
  if (!apply_fixups(record, size)) return RecordProblem::fixup;
  if (carries_other_number(record, number)) return RecordProblem::wrong_number;
  facts.clear();
  facts.sequence = le16(record + 0x10);
  facts.flags = le16(record + 0x16);
  facts.base_reference = le64(record + 0x20);
  const std::size_t first = le16(record + 0x14);
  const std::size_t used = le32(record + 0x18);
  if (used > size || first < 0x2A || first >= used) return RecordProblem::bad_header;
  std::size_t at = first;
  for (;;) {
    if (used - at < 4) return RecordProblem::bad_attribute;
    if (le32(record + at) == attribute_end) return RecordProblem::none;
    Attribute attribute;
    if (!read_attribute(record + at, used - at, attribute)) return RecordProblem::bad_attribute;
    if (!take_attribute(attribute, facts)) return RecordProblem::bad_attribute;
    at += le32(record + at + 4);
  }
}

}  // namespace mirrow::ntfs
