#pragma once
// The in-use files of a volume as the scanner keeps them while it reads
// the table: per base record its size, times and kind (32 bytes), per name
// its folder and text (16 bytes plus the text), per record number one
// index (4 bytes) to join names to folders, and per extension record what
// it adds to its base (names, size, reparse tag) until the base is known.
// After the last record, build() applies the extensions that belong to
// their base's current use, checks each name's folder, groups the names by
// folder (4 bytes a name), so a folder's entries are found without a
// listing, and releases what only the reading needed: the record index and
// the extensions.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "scanner/ntfs/chunked_array.h"
#include "scanner/ntfs/file_record.h"
#include "scanner/ntfs/name_text.h"

namespace mirrow::ntfs {

// What went wrong with one record; kept for the first few.
struct TableProblem {
  std::uint64_t record = 0;
  const char* message = "";
};

struct TableProblems {
  static constexpr std::size_t sample_cap = 8;
  std::uint64_t count = 0;
  std::vector<TableProblem> samples;

  void add(std::uint64_t record, const char* message) {
    ++count;
    if (samples.size() < sample_cap) samples.push_back({record, message});
  }
};

struct FileEntry {
  static constexpr std::uint8_t directory = 1;
  static constexpr std::uint8_t reparse_point = 2;
  static constexpr std::uint8_t offline = 4;
  static constexpr std::uint8_t entered = 8;  // its entries were reported once already

  std::uint64_t size = 0;
  std::int64_t write_time = 0;
  std::int64_t creation_time = 0;
  std::uint32_t first_child = 0;  // after build: its first entry in the grouped names
  std::uint16_t sequence = 0;
  std::uint8_t flags = 0;
  std::uint8_t unused = 0;
};

struct NameEntry {
  std::uint32_t owner = 0;   // record number; after build, the owner's entry
  std::uint32_t parent = 0;  // record number; after build, the folder's entry
  std::uint32_t text = 0;
  std::uint16_t parent_sequence = 0;
  std::uint8_t length = 0;
  std::uint8_t name_space = 0;
};

class FileTable {
 public:
  static constexpr std::uint32_t none = UINT32_MAX;

  explicit FileTable(std::uint64_t record_count);

  // Takes one in-use record's facts; a problem is counted in problems and
  // the record left out.
  void add(std::uint64_t number, const RecordFacts& facts, TableProblems& problems);

  // After the last record: extensions of a record not in use, or of an
  // earlier use of it (another sequence number), are counted and dropped
  // with their names; names whose folder is not an in-use record of the
  // right kind are counted and dropped; the rest are grouped by folder. The
  // record index and the extensions are released.
  void build(TableProblems& problems);

  // The entry of a record number (before build), or none.
  std::uint32_t entry_of(std::uint64_t number) const;
  std::uint32_t root_entry() const { return root_entry_; }

  FileEntry& entry(std::uint32_t index) { return entries_[index]; }
  const FileEntry& entry(std::uint32_t index) const { return entries_[index]; }
  const NameEntry& name(std::uint32_t index) const { return names_[index]; }
  const char16_t* text_of(const NameEntry& name) const { return text_.at(name.text); }

  // After build: the names in folder `directory`, as indices into the names,
  // in [first, last); they may be reordered in place.
  std::uint32_t* children_begin(std::uint32_t directory);
  std::uint32_t* children_end(std::uint32_t directory);

  std::size_t entry_count() const { return entries_.size(); }
  std::size_t name_count() const { return names_.size(); }
  // After build: the entries of the largest folder.
  std::size_t largest_folder() const { return largest_folder_; }
  // Bytes held beside the names' text, and the text's own.
  std::size_t memory_bytes() const;
  std::size_t text_bytes() const { return text_.memory_bytes(); }

  void release();

 private:
  // What an extension record adds to its base: its names (a run of the
  // names), the unnamed data's size and the reparse point, if it holds them.
  struct Extension {
    static constexpr std::uint8_t has_size = 1;
    static constexpr std::uint8_t reparse_point = 2;

    std::uint64_t size = 0;
    std::uint32_t record = 0;
    std::uint32_t base = 0;
    std::uint32_t first_name = 0;
    std::uint32_t name_count = 0;
    std::uint32_t reparse_tag = 0;
    std::uint16_t base_sequence = 0;  // 0: not checked
    std::uint8_t flags = 0;
  };

  void add_base(std::uint64_t number, const RecordFacts& facts, TableProblems& problems);
  void add_extension(std::uint64_t number, const RecordFacts& facts, TableProblems& problems);
  void add_names(std::uint64_t owner, const RecordFacts& facts, TableProblems& problems);
  // Brings each extension's size and reparse point to its base, or drops
  // its names when the base is not the file it was written for.
  void apply_extensions(TableProblems& problems);
  // Checks a name's owner and folder; false (counted when it is a fault) to drop it.
  bool resolve(NameEntry& name, TableProblems& problems) const;
  void group_by_folder(std::uint32_t valid_names);

  std::vector<std::uint32_t> entry_of_record_;  // entry + 1, or 0
  ChunkedArray<FileEntry> entries_;
  ChunkedArray<NameEntry> names_;
  NameText text_;
  std::vector<Extension> extensions_;
  std::vector<std::uint32_t> children_;  // name indices grouped by folder
  std::uint32_t root_entry_ = none;
  std::size_t largest_folder_ = 0;
};

}  // namespace mirrow::ntfs
