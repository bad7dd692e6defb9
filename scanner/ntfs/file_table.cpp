#include "scanner/ntfs/file_table.h"

#include <algorithm>

#include "scanner/ntfs/table_source.h"

namespace mirrow::ntfs {
namespace {

constexpr std::uint32_t attribute_bit_reparse_point = 0x400;
constexpr std::uint32_t attribute_bit_offline = 0x1000;

// Reparse points that the system's own filters keep out of sight: a file
// compressed by the overlay filter (WOF, as CompactOS compresses System32)
// or deduplicated reads and lists as a plain file, so a listing reports it.
bool listed_as_plain_file(std::uint32_t tag) {
  constexpr std::uint32_t tag_wof = 0x80000017;
  constexpr std::uint32_t tag_dedup = 0x80000013;
  return tag == tag_wof || tag == tag_dedup;
}

// A record without the $REPARSE_POINT attribute may still be one whose
// attribute lies in an extension record: its attribute bit says so until
// the extension is applied.
bool reparse_point_of(const RecordFacts& facts) {
  if (facts.reparse_point) return !listed_as_plain_file(facts.reparse_tag);
  return (facts.file_attributes & attribute_bit_reparse_point) != 0;
}

std::uint8_t with_reparse_tag(std::uint8_t flags, std::uint32_t tag) {
  flags &= static_cast<std::uint8_t>(~FileEntry::reparse_point);
  return listed_as_plain_file(tag) ? flags : static_cast<std::uint8_t>(flags | FileEntry::reparse_point);
}

std::uint8_t flags_of(const RecordFacts& facts) {
  std::uint8_t flags = 0;
  if (facts.directory()) flags |= FileEntry::directory;
  if (reparse_point_of(facts)) flags |= FileEntry::reparse_point;
  if (facts.file_attributes & attribute_bit_offline) flags |= FileEntry::offline;
  return flags;
}

}  // namespace

FileTable::FileTable(std::uint64_t record_count) : entry_of_record_(record_count, 0) {}

std::uint32_t FileTable::entry_of(std::uint64_t number) const {
  if (number >= entry_of_record_.size()) return none;
  return entry_of_record_[number] - 1;  // 0 (none) wraps to none
}

void FileTable::add(std::uint64_t number, const RecordFacts& facts, TableProblems& problems) {
  if (number >= entry_of_record_.size()) return problems.add(number, "record past the table");
  if (facts.is_base()) {
    add_base(number, facts, problems);
  } else {
    add_extension(number, facts, problems);
  }
}

void FileTable::add_base(std::uint64_t number, const RecordFacts& facts, TableProblems& problems) {
  if (!facts.has_information) return problems.add(number, "no standard information");
  FileEntry entry;
  entry.size = facts.has_size ? facts.size : 0;
  entry.write_time = facts.write_time;
  entry.creation_time = facts.creation_time;
  entry.sequence = facts.sequence;
  entry.flags = flags_of(facts);
  const std::uint32_t index = static_cast<std::uint32_t>(entries_.size());
  entries_.push_back(entry);
  entry_of_record_[number] = index + 1;
  if (number == record_root) root_entry_ = index;
  add_names(number, facts, problems);
}

// The base may come later in the table than its extension, so what the
// extension adds waits for build(); its names go in with the rest, as a run
// that build() can drop as a whole.
void FileTable::add_extension(std::uint64_t number, const RecordFacts& facts, TableProblems& problems) {
  const std::uint64_t base = record_number_of(facts.base_reference);
  if (base >= entry_of_record_.size() || base == number) return problems.add(number, "extension of no record");
  Extension extension;
  extension.record = static_cast<std::uint32_t>(number);
  extension.base = static_cast<std::uint32_t>(base);
  extension.base_sequence = sequence_of(facts.base_reference);
  extension.first_name = static_cast<std::uint32_t>(names_.size());
  add_names(base, facts, problems);
  extension.name_count = static_cast<std::uint32_t>(names_.size()) - extension.first_name;
  if (facts.has_size) {
    extension.flags |= Extension::has_size;
    extension.size = facts.size;
  }
  if (facts.reparse_point) {
    extension.flags |= Extension::reparse_point;
    extension.reparse_tag = facts.reparse_tag;
  }
  if (extension.name_count != 0 || extension.flags != 0) extensions_.push_back(extension);
}

void FileTable::add_names(std::uint64_t owner, const RecordFacts& facts, TableProblems& problems) {
  for (std::size_t i = 0; i < facts.name_count; ++i) {
    const NameFact& fact = facts.names[i];
    if (fact.name_space == namespace_dos) continue;
    if (!text_.has_room(fact.length)) return problems.add(owner, "too much name text");
    NameEntry name;
    name.owner = static_cast<std::uint32_t>(owner);
    const std::uint64_t parent = record_number_of(fact.parent);
    name.parent = parent < entry_of_record_.size() ? static_cast<std::uint32_t>(parent) : none;
    name.parent_sequence = sequence_of(fact.parent);
    name.text = text_.add(fact.units, fact.length);
    name.length = fact.length;
    name.name_space = fact.name_space;
    names_.push_back(name);
  }
}

// An extension whose base is free, or holds another file now (its sequence
// number moved on when the record was reused), is left over from a file
// that is gone: nothing of it may attach to the record's current file.
void FileTable::apply_extensions(TableProblems& problems) {
  for (const Extension& extension : extensions_) {
    const std::uint32_t owner = entry_of(extension.base);
    if (owner == none || (extension.base_sequence != 0 && entries_[owner].sequence != extension.base_sequence)) {
      problems.add(extension.record, "extension of a record not in use");
      for (std::uint32_t i = 0; i < extension.name_count; ++i) names_[extension.first_name + i].owner = none;
      continue;
    }
    FileEntry& entry = entries_[owner];
    if (extension.flags & Extension::has_size) entry.size = extension.size;
    if (extension.flags & Extension::reparse_point) entry.flags = with_reparse_tag(entry.flags, extension.reparse_tag);
  }
}

bool FileTable::resolve(NameEntry& name, TableProblems& problems) const {
  // No owner: the name was dropped with its extension, and counted there.
  const std::uint32_t owner = entry_of(name.owner);
  if (owner == none) return false;
  if (name.owner < first_user_record) return false;  // the volume's metadata: in no listing
  const std::uint32_t parent = name.parent == none ? none : entry_of(name.parent);
  if (parent == none || (name.parent_sequence != 0 && entries_[parent].sequence != name.parent_sequence)) {
    problems.add(name.owner, "its folder is not in use");
    return false;
  }
  if ((entries_[parent].flags & FileEntry::directory) == 0) {
    problems.add(name.owner, "its folder is not a folder");
    return false;
  }
  name.owner = owner;
  name.parent = parent;
  return true;
}

void FileTable::build(TableProblems& problems) {
  apply_extensions(problems);
  std::uint32_t valid = 0;
  for (std::size_t i = 0; i < names_.size(); ++i) {
    NameEntry& name = names_[i];
    if (resolve(name, problems)) {
      ++valid;
    } else {
      name.parent = none;
    }
  }
  std::vector<std::uint32_t>().swap(entry_of_record_);
  std::vector<Extension>().swap(extensions_);
  group_by_folder(valid);
}

// A counting sort by folder: each folder's count, then its end, then each
// name placed below the end, last name first, so that the names keep the
// table's order within a folder and first_child ends at the folder's start.
void FileTable::group_by_folder(std::uint32_t valid_names) {
  for (std::size_t e = 0; e < entries_.size(); ++e) entries_[e].first_child = 0;
  for (std::size_t i = 0; i < names_.size(); ++i) {
    if (names_[i].parent != none) ++entries_[names_[i].parent].first_child;
  }
  std::uint32_t end = 0;
  for (std::size_t e = 0; e < entries_.size(); ++e) {
    largest_folder_ = std::max<std::size_t>(largest_folder_, entries_[e].first_child);
    end += entries_[e].first_child;
    entries_[e].first_child = end;
  }
  children_.assign(valid_names, 0);
  for (std::size_t i = names_.size(); i-- > 0;) {
    if (names_[i].parent != none) children_[--entries_[names_[i].parent].first_child] = static_cast<std::uint32_t>(i);
  }
}

std::uint32_t* FileTable::children_begin(std::uint32_t directory) { return children_.data() + entries_[directory].first_child; }

std::uint32_t* FileTable::children_end(std::uint32_t directory) {
  const std::size_t next = static_cast<std::size_t>(directory) + 1;
  return children_.data() + (next < entries_.size() ? entries_[next].first_child : children_.size());
}

std::size_t FileTable::memory_bytes() const {
  return entry_of_record_.capacity() * sizeof(std::uint32_t) + entries_.memory_bytes() + names_.memory_bytes() +
         extensions_.capacity() * sizeof(Extension) + children_.capacity() * sizeof(std::uint32_t);
}

void FileTable::release() {
  std::vector<std::uint32_t>().swap(entry_of_record_);
  entries_.clear();
  names_.clear();
  text_.clear();
  std::vector<Extension>().swap(extensions_);
  std::vector<std::uint32_t>().swap(children_);
  root_entry_ = none;
  largest_folder_ = 0;
}

}  // namespace mirrow::ntfs
