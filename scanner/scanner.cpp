#include "scanner/scanner.h"

#include <utility>

#include "common/paths.h"
#include "scanner/ancestor_check.h"
#include "scanner/child_path.h"

namespace mirrow {
namespace {

constexpr std::string_view unavailable_message = "unavailable, reparse or offline ancestor";

bool is_dot_entry(std::u16string_view name) { return name == u"." || name == u".."; }

}  // namespace

Scanner::Scanner(std::u16string root, const ScanPlatform& platform) : platform_(platform) {
  pending_.push_back(spell_path(std::move(root)));
}

Scanner::~Scanner() { close_listing(); }

void Scanner::exclude(std::u16string path) { exclusions_.push_back(normalize_path(std::move(path))); }

const std::string& Scanner::step() {
  begin_scan_batch(batch_);
  StepCounts counts;
  while (!counts.should_stop()) {
    ++counts.passes;
    if (listing_ == nullptr) {
      if (pending_.empty()) break;
      if (!open_next_directory()) continue;
    } else if (!entry_ready_) {
      // A fetch that failed half-way (out of memory) left no entry: fetch anew.
      fetch_next_entry();
      continue;
    }
    take_entry();
    examine(current_, counts);
    if (counts.records_full()) break;
  }
  ledger_.finish(batch_, done());
  return batch_;
}

bool Scanner::open_next_directory() {
  // The directory leaves pending only once its fate is known, so a step that
  // fails half-way (out of memory) leaves it for the next step.
  current_spelling_ = pending_.back();
  current_dir_ = normalize_path(current_spelling_);
  const std::u16string_view pattern_tail =
      !current_dir_.empty() && current_dir_.back() == u'\\' ? std::u16string_view(u"*") : u"\\*";
  // The pattern is the longest name handed to the system for this directory.
  if (const std::uint32_t refusal = long_path_refusal(current_dir_, pattern_tail.size())) {
    pending_.pop_back();
    ledger_.record_error_code(current_dir_, "FindFirstFile", refusal);
    return false;
  }
  if (!ancestors_walkable(platform_, current_spelling_)) {
    pending_.pop_back();
    ledger_.record_error(current_dir_, unavailable_message);
    return false;
  }
  std::u16string pattern = long_path_form(current_spelling_);
  pattern.append(pattern_tail);
  std::uint32_t error = 0;
  listing_ = platform_.open_listing(platform_.context, pattern, entry_, error);
  pending_.pop_back();
  entry_ready_ = listing_ != nullptr;
  if (listing_ != nullptr) return true;
  if (error != error_file_not_found) ledger_.record_error_code(current_dir_, "FindFirstFile", error);
  return false;
}

void Scanner::take_entry() {
  std::swap(current_, entry_);
  entry_ready_ = false;
  fetch_next_entry();
}

void Scanner::fetch_next_entry() {
  std::uint32_t error = 0;
  if (platform_.next_entry(platform_.context, listing_, entry_, error)) {
    entry_ready_ = true;
    return;
  }
  close_listing();
  if (error != error_no_more_files) ledger_.record_error_code(current_dir_, "FindNextFile", error);
}

void Scanner::examine(const ScanEntry& entry, StepCounts& counts) {
  if (is_dot_entry(entry.name)) return;
  append_child(entry_spelling_, current_spelling_, entry.name);
  entry_path_ = normalize_path(entry_spelling_);
  if (excluded(entry_path_)) return;
  if (entry.attributes & (attribute_reparse_point | attribute_offline)) {
    ledger_.skip(entry_path_);
  } else if (entry.attributes & attribute_directory) {
    push_directory(entry_spelling_, entry_path_);
  } else {
    ledger_.report_file(batch_, entry_path_, entry.size, entry.write_time, entry.creation_time, counts);
  }
}

void Scanner::push_directory(const std::u16string& spelling, std::u16string_view path) {
  if (pending_.size() < scan_pending_cap) {
    pending_.push_back(spelling);
  } else {
    ledger_.refuse_pending(path);
  }
}

void Scanner::close_listing() noexcept {
  if (listing_ == nullptr) return;
  platform_.close_listing(platform_.context, std::exchange(listing_, nullptr));
}

bool Scanner::excluded(std::u16string_view path) const {
  for (const std::u16string& exclusion : exclusions_) {
    if (is_under(path, exclusion)) return true;
  }
  return false;
}

}  // namespace mirrow
