#include "scanner/scan_ledger.h"

#include "common/number_format.h"

namespace mirrow {
namespace {

constexpr std::string_view too_many_skipped_message = "too many excluded reparse/offline paths";
constexpr std::string_view too_many_pending_message = "too many pending directories";

// The estimate of a record's share of the batch: every unit may become a
// six-byte escape, plus room for the numbers.
std::uint64_t record_budget(std::size_t path_length) { return 6 * static_cast<std::uint64_t>(path_length) + 128; }

}  // namespace

void ScanLedger::report_file(std::string& batch, std::u16string_view path, std::uint64_t size, std::int64_t write_time,
                             std::int64_t creation_time, StepCounts& counts) {
  append_file_record(batch, counts.records == 0, path, size, write_time, creation_time);
  count_file(size, path.size(), counts);
}

void ScanLedger::report_file_in(std::string& batch, std::string_view quoted_folder, std::u16string_view name,
                                std::size_t path_length, std::uint64_t size, std::int64_t write_time,
                                std::int64_t creation_time, StepCounts& counts) {
  append_file_record_in(batch, counts.records == 0, quoted_folder, name, size, write_time, creation_time);
  count_file(size, path_length, counts);
}

void ScanLedger::count_file(std::uint64_t size, std::size_t path_length, StepCounts& counts) {
  ++totals_.files;
  totals_.bytes += size;
  ++counts.records;
  counts.budget += record_budget(path_length);
}

void ScanLedger::skip(const std::u16string& path) {
  if (skipped_.size() < scan_skipped_cap) {
    skipped_.push_back(path);
  } else {
    record_error(path, too_many_skipped_message);
  }
}

void ScanLedger::refuse_pending(std::u16string_view path) { record_error(path, too_many_pending_message); }

void ScanLedger::record_error(std::u16string_view path, std::string_view message) {
  ++totals_.errors;
  if (samples_.size() >= scan_sample_cap) return;
  std::u16string text(path);
  text.append(u": ");
  text.append(message.begin(), message.end());
  samples_.push_back(std::move(text));
}

void ScanLedger::record_error_code(std::u16string_view path, std::string_view call, std::uint32_t code) {
  std::string message(call);
  message += ": ";
  append_u64(message, code);
  record_error(path, message);
}

void ScanLedger::finish(std::string& batch, bool done) const {
  ScanTotals totals = totals_;
  totals.done = done;
  append_scan_batch_tail(batch, totals, samples_, skipped_);
}

}  // namespace mirrow
