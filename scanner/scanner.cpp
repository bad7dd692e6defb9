#include "scanner/scanner.h"

#include <utility>

#include "common/number_format.h"
#include "common/paths.h"
#include "scanner/ancestor_check.h"

namespace mirrow {
namespace {

constexpr std::string_view unavailable_message = "unavailable, reparse or offline ancestor";
constexpr std::string_view too_many_skipped_message = "too many excluded reparse/offline paths";
constexpr std::string_view too_many_pending_message = "too many pending directories";

bool is_dot_entry(std::u16string_view name) { return name == u"." || name == u".."; }

// The estimate of a record's share of the batch: every unit may become a
// six-byte escape, plus room for the numbers.
std::uint64_t record_budget(std::u16string_view path) { return 6 * static_cast<std::uint64_t>(path.size()) + 128; }

void append_child(std::u16string& out, std::u16string_view directory, std::u16string_view name) {
  out.assign(directory);
  if (out.empty() || out.back() != u'\\') out.push_back(u'\\');
  out.append(name);
}

}  // namespace

Scanner::Scanner(std::u16string root, const ScanPlatform& platform) : platform_(platform) {
  pending_.push_back(spell_path(std::move(root)));
}

Scanner::~Scanner() { close_listing(); }

void Scanner::exclude(std::u16string path) { exclusions_.push_back(normalize_path(std::move(path))); }

const std::string& Scanner::step() {
  begin_scan_batch(batch_);
  StepCounts counts;
  while (!step_should_stop(counts)) {
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
    if (counts.records >= scan_records_per_step) break;
  }
  const ScanTotals totals{totals_.errors, totals_.files, totals_.bytes, done()};
  append_scan_batch_tail(batch_, totals, samples_, skipped_);
  return batch_;
}

bool Scanner::step_should_stop(const StepCounts& counts) const {
  return counts.budget >= scan_budget_per_step || counts.passes >= scan_passes_per_step;
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
    record_error_code(current_dir_, "FindFirstFile", refusal);
    return false;
  }
  if (!ancestors_walkable(platform_, current_spelling_)) {
    pending_.pop_back();
    record_error(current_dir_, unavailable_message);
    return false;
  }
  std::u16string pattern = long_path_form(current_spelling_);
  pattern.append(pattern_tail);
  std::uint32_t error = 0;
  listing_ = platform_.open_listing(platform_.context, pattern, entry_, error);
  pending_.pop_back();
  entry_ready_ = listing_ != nullptr;
  if (listing_ != nullptr) return true;
  if (error != error_file_not_found) record_error_code(current_dir_, "FindFirstFile", error);
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
  if (error != error_no_more_files) record_error_code(current_dir_, "FindNextFile", error);
}

void Scanner::examine(const ScanEntry& entry, StepCounts& counts) {
  if (is_dot_entry(entry.name)) return;
  append_child(entry_spelling_, current_spelling_, entry.name);
  entry_path_ = normalize_path(entry_spelling_);
  if (excluded(entry_path_)) return;
  if (entry.attributes & (attribute_reparse_point | attribute_offline)) {
    skip(entry_path_);
  } else if (entry.attributes & attribute_directory) {
    push_directory(entry_spelling_, entry_path_);
  } else {
    report_file(entry_path_, entry, counts);
  }
}

void Scanner::report_file(const std::u16string& path, const ScanEntry& entry, StepCounts& counts) {
  append_file_record(batch_, counts.records == 0, path, entry.size, entry.write_time, entry.creation_time);
  ++totals_.files;
  totals_.bytes += entry.size;
  ++counts.records;
  counts.budget += record_budget(path);
}

void Scanner::skip(const std::u16string& path) {
  if (skipped_.size() < scan_skipped_cap) {
    skipped_.push_back(path);
  } else {
    record_error(path, too_many_skipped_message);
  }
}

void Scanner::push_directory(const std::u16string& spelling, std::u16string_view path) {
  if (pending_.size() < scan_pending_cap) {
    pending_.push_back(spelling);
  } else {
    record_error(path, too_many_pending_message);
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

void Scanner::record_error(std::u16string_view path, std::string_view message) {
  ++totals_.errors;
  if (samples_.size() >= scan_sample_cap) return;
  std::u16string text(path);
  text.append(u": ");
  text.append(message.begin(), message.end());
  samples_.push_back(std::move(text));
}

void Scanner::record_error_code(std::u16string_view path, std::string_view call, std::uint32_t code) {
  std::string message(call);
  message += ": ";
  append_u64(message, code);
  record_error(path, message);
}

}  // namespace mirrow
