#include "scanner/table_scan.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "common/lowercase.h"
#include "common/number_format.h"
#include "common/paths.h"
#include "scanner/child_path.h"

namespace mirrow {
namespace {

using ntfs::FileEntry;
using ntfs::FileTable;
using ntfs::NameEntry;

constexpr std::string_view loop_message = "folder reached twice: a loop in the table";
constexpr std::size_t drive_root_length = 3;
constexpr std::uint8_t not_plain_file = FileEntry::directory | FileEntry::reparse_point | FileEntry::offline;

// Each record is damaged on its own; more than this many say the table as a
// whole cannot be trusted.
std::uint64_t tolerated_problems(std::uint64_t files) { return 16 + files / 100; }

std::u16string_view name_view(const FileTable& table, const NameEntry& name) {
  return {table.text_of(name), name.length};
}

bool zero_filled(const std::uint8_t* bytes) { return bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 0 && bytes[3] == 0; }

}  // namespace

TableScan::TableScan(std::u16string root, const ntfs::VolumeReader& reader) : root_(std::move(root)), reader_(reader) {}

const char* TableScan::open() {
  if (const char* refusal = source_.open(reader_)) return refusal;
  if (source_.record_count() > UINT32_MAX - 1 ||
      source_.record_count() > table_memory_limit / table_bytes_per_record)
    return "the table would need more than 1 GiB";
  table_ = std::make_unique<FileTable>(source_.record_count());
  opened_in_this_step_ = true;
  for (std::size_t i = 0; i < ntfs::read_ahead_depth; ++i) ask_next_slice();
  return nullptr;
}

const std::string& TableScan::step() {
  begin_scan_batch(batch_);
  if (phase_ == Phase::reading) {
    // A slice half taken cannot be taken again: out of memory, the table
    // gives way to the walk.
    try {
      if (!refused() && !std::exchange(opened_in_this_step_, false)) read_slice();
    } catch (const std::bad_alloc&) {
      refuse("not enough memory for the table");
    }
    ledger_.finish(batch_, false);
    return batch_;
  }
  report_step();
  ledger_.finish(batch_, done());
  if (done() && table_) {
    table_.reset();
    order_.release();
  }
  return batch_;
}

// ---- reading ----

// A slice is read in one call: on a volume each call is a disk request and,
// under some platforms' file layers, a round trip of its own, while the copy
// of a larger piece costs no more. The slices after this one are asked for
// before it is parsed, so that their reads run meanwhile.
std::size_t TableScan::slice_records(std::uint64_t first) const {
  const std::uint64_t per_slice = table_slice_bytes / source_.geometry().record_size;
  return static_cast<std::size_t>(std::min<std::uint64_t>(per_slice, source_.record_count() - first));
}

void TableScan::ask_next_slice() {
  if (asked_until_ == source_.record_count()) return;
  const std::size_t count = slice_records(asked_until_);
  read_ahead_.ask(source_, asked_until_, count);
  asked_until_ += count;
}

void TableScan::read_slice() {
  const std::uint64_t record_size = source_.geometry().record_size;
  const std::size_t count = slice_records(next_record_);
  ntfs::AlignedBuffer* slice = read_ahead_.take();
  if (slice == nullptr) {
    std::string reason = "the table cannot be read at record ";
    append_u64(reason, next_record_);
    return refuse(std::move(reason));
  }
  ask_next_slice();
  for (std::size_t i = 0; i < count; ++i) take_record(next_record_ + i, slice->data() + i * record_size);
  next_record_ += count;
  note_memory();
  if (over_memory_limit()) return refuse("the table would need more than 1 GiB");
  if (next_record_ == source_.record_count()) finish_reading();
}

void TableScan::take_record(std::uint64_t number, std::uint8_t* bytes) {
  const std::size_t size = source_.geometry().record_size;
  const ntfs::RecordProblem problem = ntfs::parse_record(bytes, size, number, facts_);
  if (problem == ntfs::RecordProblem::not_in_use) return;
  // Records the table has never used may still be zeros.
  if (problem == ntfs::RecordProblem::bad_signature && zero_filled(bytes)) return;
  if (problem != ntfs::RecordProblem::none) return problems_.add(number, ntfs::record_problem_text(problem));
  if (facts_.is_base()) ++in_use_files_;
  table_->add(number, facts_, problems_);
}

// The record index and the extensions go with build(); what reporting holds
// (entries, names, text, grouping, and the sort scratch of the largest
// folder) is known from here on and must fit the bound too.
void TableScan::finish_reading() {
  read_ahead_.stop();
  table_->build(problems_);
  sort_scratch_bytes_ = ntfs::FolderOrder::scratch_bytes(table_->largest_folder());
  note_memory();
  if (over_memory_limit()) return refuse("the table would need more than 1 GiB");
  if (problems_.count > tolerated_problems(in_use_files_)) {
    std::string reason = "too many damaged records in the table: ";
    append_u64(reason, problems_.count);
    return refuse(std::move(reason));
  }
  const std::uint32_t root = resolve_root();
  if (root == FileTable::none) return;
  commit_problems();
  pending_.push_back({root, root_});
  phase_ = Phase::reporting;
}

std::uint32_t TableScan::resolve_root() {
  std::uint32_t folder = table_->root_entry();
  if (folder == FileTable::none || (table_->entry(folder).flags & FileEntry::directory) == 0) {
    refuse("the volume's root folder is missing from the table");
    return FileTable::none;
  }
  std::u16string_view rest = std::u16string_view(root_).substr(std::min(root_.size(), drive_root_length));
  while (!rest.empty()) {
    const std::size_t cut = rest.find(u'\\');
    const std::u16string_view component = rest.substr(0, cut);
    rest = cut == std::u16string_view::npos ? std::u16string_view() : rest.substr(cut + 1);
    const std::uint32_t name = find_child(folder, component);
    if (name == FileTable::none) {
      refuse("the root is not a folder in the table");
      return FileTable::none;
    }
    folder = table_->name(name).owner;
    const FileEntry& entry = table_->entry(folder);
    if (entry.flags & (FileEntry::reparse_point | FileEntry::offline)) {
      refuse("the root is or lies below a reparse point or offline folder");
      return FileTable::none;
    }
    if ((entry.flags & FileEntry::directory) == 0) {
      refuse("the root is not a folder in the table");
      return FileTable::none;
    }
  }
  return folder;
}

// The name in a folder that a case-insensitive lookup finds: the one spelled
// exactly so if there is one, else the first equal but for case.
std::uint32_t TableScan::find_child(std::uint32_t folder, std::u16string_view name) const {
  std::uint32_t found = FileTable::none;
  for (const std::uint32_t* child = table_->children_begin(folder); child != table_->children_end(folder); ++child) {
    const std::u16string_view candidate = name_view(*table_, table_->name(*child));
    if (candidate == name) return *child;
    if (found == FileTable::none &&
        source_.collation().equal_ignoring_case(candidate.data(), candidate.size(), name.data(), name.size()))
      found = *child;
  }
  return found;
}

// The table's damaged records count as the scan's errors from here on, with
// the first of them as samples under the volume's root.
void TableScan::commit_problems() {
  const std::u16string volume_root = normalize_path(root_.substr(0, std::min(root_.size(), drive_root_length)));
  for (const ntfs::TableProblem& problem : problems_.samples) {
    std::string message = "table record ";
    append_u64(message, problem.record);
    message += ": ";
    message += problem.message;
    ledger_.record_error(volume_root, message);
  }
  for (std::uint64_t i = problems_.samples.size(); i < problems_.count; ++i) ledger_.count_error();
}

void TableScan::refuse(std::string reason) {
  refusal_ = std::move(reason);
  read_ahead_.stop();
  if (table_) table_->release();
}

void TableScan::note_memory() {
  if (!table_) return;
  peak_bytes_ = std::max<std::uint64_t>(peak_bytes_, table_->memory_bytes() + sort_scratch_bytes_);
  peak_text_bytes_ = std::max<std::uint64_t>(peak_text_bytes_, table_->text_bytes());
}

bool TableScan::over_memory_limit() const { return peak_bytes_ + peak_text_bytes_ > table_memory_limit; }

// ---- reporting ----

void TableScan::report_step() {
  StepCounts counts;
  while (!counts.should_stop()) {
    ++counts.passes;
    if (!listing_open_) {
      if (pending_.empty()) break;
      open_next_folder();
      continue;
    }
    const std::uint32_t name = *cursor_++;
    if (cursor_ == listing_end_) listing_open_ = false;
    examine(name, counts);
    if (counts.records_full()) break;
  }
}

void TableScan::open_next_folder() {
  current_spelling_ = pending_.back().spelling;
  current_dir_ = normalize_path(current_spelling_);
  const std::uint32_t folder = pending_.back().entry;
  pending_.pop_back();
  FileEntry& entry = table_->entry(folder);
  if (entry.flags & FileEntry::entered) return ledger_.record_error(current_dir_, loop_message);
  entry.flags |= FileEntry::entered;
  cursor_ = table_->children_begin(folder);
  listing_end_ = table_->children_end(folder);
  order_.sort(cursor_, listing_end_, *table_, source_.collation());
  listing_open_ = cursor_ != listing_end_;
  quote_folder(quoted_dir_, current_dir_);
  child_prefix_length_ = current_dir_.size() + (current_dir_.ends_with(u'\\') ? 0 : 1);
}

void TableScan::examine(std::uint32_t name_index, StepCounts& counts) {
  const NameEntry& name = table_->name(name_index);
  const FileEntry& owner = table_->entry(name.owner);
  const std::u16string_view text = name_view(*table_, name);
  // Nearly every entry is a plain file, and with nothing excluded its
  // whole path is needed only in the batch, where the folder's part is
  // quoted once per folder.
  if (exclusions_.empty() && (owner.flags & not_plain_file) == 0 && lowered_plain_name(text)) {
    return ledger_.report_file_in(batch_, quoted_dir_, entry_name_, child_prefix_length_ + entry_name_.size(),
                                  owner.size, owner.write_time, owner.creation_time, counts);
  }
  normalised_child(text);
  if (excluded(entry_path_)) return;
  if (owner.flags & (FileEntry::reparse_point | FileEntry::offline)) {
    ledger_.skip(entry_path_);
  } else if (owner.flags & FileEntry::directory) {
    if (pending_.size() < scan_pending_cap) {
      // Only a folder needs its spelling: the system is never handed a file's.
      append_child(entry_spelling_, current_spelling_, text);
      pending_.push_back({name.owner, entry_spelling_});
    } else {
      ledger_.refuse_pending(entry_path_);
    }
  } else {
    ledger_.report_file(batch_, entry_path_, owner.size, owner.write_time, owner.creation_time, counts);
  }
}

// The name lower-cased as a path's last part, unless it holds a separator.
bool TableScan::lowered_plain_name(std::u16string_view name) {
  for (const char16_t unit : name) {
    if (unit == u'\\' || unit == u'/') return false;
  }
  entry_name_.assign(name);
  lower_tail_in_place(entry_name_, 0);
  return true;
}

// The normalised folder with the name appended and lower-cased is the
// normalised entry path, unless the name holds a separator, which the whole
// rules must see.
void TableScan::normalised_child(std::u16string_view name) {
  for (const char16_t unit : name) {
    if (unit == u'\\' || unit == u'/') {
      append_child(entry_path_, current_spelling_, name);
      normalize_path_in_place(entry_path_);
      return;
    }
  }
  append_child(entry_path_, current_dir_, name);
  lower_tail_in_place(entry_path_, entry_path_.size() - name.size());
}

bool TableScan::excluded(std::u16string_view path) const {
  for (const std::u16string& exclusion : exclusions_) {
    if (is_under(path, exclusion)) return true;
  }
  return false;
}

}  // namespace mirrow
