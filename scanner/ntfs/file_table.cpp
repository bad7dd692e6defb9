#include "scanner/ntfs/file_table.h"

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

bool reparse_point_of(const RecordFacts& facts) {
  if (facts.reparse_point) return !listed_as_plain_file(facts.reparse_tag);
  return (facts.file_attributes & attribute_bit_reparse_point) != 0;
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

void FileTable::add_extension(std::uint64_t number, const RecordFacts& facts, TableProblems& problems) {
  const std::uint64_t base = record_number_of(facts.base_reference);
  if (base >= entry_of_record_.size() || base == number) return problems.add(number, "extension of no record");
  add_names(base, facts, problems);
  if (facts.has_size) pending_sizes_.push_back({static_cast<std::uint32_t>(base), facts.size});
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

bool FileTable::resolve(NameEntry& name, TableProblems& problems) const {
  const std::uint32_t owner = entry_of(name.owner);
  if (owner == none) {
    problems.add(name.owner, "extension of a record not in use");
    return false;
  }
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
  for (const PendingSize& pending : pending_sizes_) {
    const std::uint32_t owner = entry_of(pending.base);
    if (owner == none) {
      problems.add(pending.base, "extension of a record not in use");
    } else {
      entries_[owner].size = pending.size;
    }
  }
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
  std::vector<PendingSize>().swap(pending_sizes_);
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
         pending_sizes_.capacity() * sizeof(PendingSize) + children_.capacity() * sizeof(std::uint32_t);
}

void FileTable::release() {
  std::vector<std::uint32_t>().swap(entry_of_record_);
  entries_.clear();
  names_.clear();
  text_.clear();
  std::vector<PendingSize>().swap(pending_sizes_);
  std::vector<std::uint32_t>().swap(children_);
  root_entry_ = none;
}

}  // namespace mirrow::ntfs
