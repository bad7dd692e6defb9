#pragma once
// One file record of the master file table, checked and reduced to the few
// facts the scanner needs: whether it is in use and a folder, the base
// record it extends, its standard information (times, attributes), its
// names, the size of its unnamed data stream, whether it is a reparse
// point, and where its attribute list and unnamed data's runs lie.
//
// Pointers in the facts point into the record buffer: they stay valid while
// the buffer does.
#include <cstddef>
#include <cstdint>

namespace mirrow::ntfs {

// Attribute types.
constexpr std::uint32_t attribute_standard_information = 0x10;
constexpr std::uint32_t attribute_attribute_list = 0x20;
constexpr std::uint32_t attribute_file_name = 0x30;
constexpr std::uint32_t attribute_data = 0x80;
constexpr std::uint32_t attribute_reparse_point_type = 0xC0;
constexpr std::uint32_t attribute_end = 0xFFFFFFFF;

// File-name namespaces: a DOS name is the short alias of a Win32 name and
// never a folder entry of its own.
constexpr std::uint8_t namespace_posix = 0;
constexpr std::uint8_t namespace_win32 = 1;
constexpr std::uint8_t namespace_dos = 2;
constexpr std::uint8_t namespace_win32_and_dos = 3;

// Record numbers are the low 48 bits of a file reference, the record's
// sequence number the high 16.
constexpr std::uint64_t record_number_of(std::uint64_t reference) { return reference & 0xFFFFFFFFFFFFull; }
constexpr std::uint16_t sequence_of(std::uint64_t reference) { return static_cast<std::uint16_t>(reference >> 48); }

// A 4096-byte record holds at most 44 names; more means a damaged record.
constexpr std::size_t max_names_per_record = 64;

struct NameFact {
  std::uint64_t parent = 0;          // file reference of the folder
  const std::uint8_t* units = nullptr;  // little-endian UTF-16, length units
  std::uint8_t length = 0;
  std::uint8_t name_space = 0;
};

// An attribute's value: the bytes of a resident one, or the run list of a
// non-resident one with its first cluster number, logical size and the
// part of it ever written (the initialised size: beyond it the value reads
// as zeros whatever its clusters hold).
struct AttributeValue {
  bool present = false;
  bool resident = false;
  const std::uint8_t* bytes = nullptr;
  std::size_t length = 0;
  std::uint64_t lowest_vcn = 0;
  std::uint64_t data_size = 0;
  std::uint64_t initialized_size = 0;
};

struct RecordFacts {
  std::uint16_t sequence = 0;
  std::uint16_t flags = 0;
  std::uint64_t base_reference = 0;  // 0 in a base record
  bool has_information = false;
  std::int64_t creation_time = 0;
  std::int64_t write_time = 0;
  std::uint32_t file_attributes = 0;
  bool has_size = false;      // the unnamed data's first extent (or resident value) is here
  std::uint64_t size = 0;     // its logical size
  AttributeValue data;        // the first unnamed data attribute in this record
  AttributeValue attribute_list;
  bool reparse_point = false;      // a $REPARSE_POINT attribute is here
  std::uint32_t reparse_tag = 0;   // its tag, when its value is resident
  std::size_t name_count = 0;
  NameFact names[max_names_per_record];

  // Back to no facts; the names' slots are left as they are (name_count says
  // how many hold anything), so that a record costs no 1.5 KiB of clearing.
  void clear() {
    sequence = 0;
    flags = 0;
    base_reference = 0;
    has_information = false;
    creation_time = write_time = 0;
    file_attributes = 0;
    has_size = false;
    size = 0;
    data = {};
    attribute_list = {};
    reparse_point = false;
    reparse_tag = 0;
    name_count = 0;
  }

  bool in_use() const { return (flags & 0x0001) != 0; }
  bool directory() const { return (flags & 0x0002) != 0; }
  bool is_base() const { return record_number_of(base_reference) == 0; }
};

enum class RecordProblem {
  none,
  not_in_use,       // the record is free: nothing else was read
  bad_signature,    // not a file record (a damaged one reads BAAD)
  fixup,            // update sequence mismatch: a torn write
  bad_header,       // sizes or offsets of the header out of range
  bad_attribute,    // an attribute runs past its record or has bad fields
  wrong_number,     // the record names another number than its place in the table
};

const char* record_problem_text(RecordProblem problem);

// Reads the record header only (valid before fixups): free records need no
// more work. Returns none, not_in_use or bad_signature.
RecordProblem peek_record(const std::uint8_t* record, std::size_t size);

// Applies the fixups in place and fills facts; for a free record it stops
// at not_in_use without touching the bytes. number is the record's place in
// the table: a record that carries its own number (the layout of NTFS 3.1
// on, whose header is long enough to hold it before the update sequence)
// and names another is a stray copy, not this table's record, and gives
// wrong_number. Older records carry no number and are taken at their place.
RecordProblem parse_record(std::uint8_t* record, std::size_t size, std::uint64_t number, RecordFacts& facts);

}  // namespace mirrow::ntfs
