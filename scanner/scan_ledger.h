#pragma once
// What both ways of scanning keep and write the same way: the running
// totals, the error samples and skipped paths with their caps, the file
// records of one step with the three bounds of a step, and the batch's tail.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "scanner/scan_batch.h"

namespace mirrow {

// Bounds of one step and caps of what a scanner keeps.
constexpr std::uint32_t scan_passes_per_step = 4096;
constexpr std::uint32_t scan_records_per_step = 512;
constexpr std::uint64_t scan_budget_per_step = 0x100000;  // estimated batch bytes
constexpr std::size_t scan_sample_cap = 8;
constexpr std::size_t scan_skipped_cap = 10000;
constexpr std::size_t scan_pending_cap = 1u << 20;

// The local counts of one step.
struct StepCounts {
  std::uint32_t passes = 0;
  std::uint32_t records = 0;
  std::uint64_t budget = 0;

  bool should_stop() const { return budget >= scan_budget_per_step || passes >= scan_passes_per_step; }
  bool records_full() const { return records >= scan_records_per_step; }
};

class ScanLedger {
 public:
  // Writes one file record into the batch and counts it.
  void report_file(std::string& batch, std::u16string_view path, std::uint64_t size, std::int64_t write_time,
                   std::int64_t creation_time, StepCounts& counts);
  // The same for the file name in a folder quoted by quote_folder, whose
  // whole path is path_length units long.
  void report_file_in(std::string& batch, std::string_view quoted_folder, std::u16string_view name,
                      std::size_t path_length, std::uint64_t size, std::int64_t write_time, std::int64_t creation_time,
                      StepCounts& counts);
  // A reparse point or offline entry: kept in "skipped", or an error past the cap.
  void skip(const std::u16string& path);
  // A folder that does not fit the pending ones.
  void refuse_pending(std::u16string_view path);
  void record_error(std::u16string_view path, std::string_view message);
  void record_error_code(std::u16string_view path, std::string_view call, std::uint32_t code);
  void count_error() noexcept { ++totals_.errors; }

  // Closes the batch with the totals, the samples and the skipped paths.
  void finish(std::string& batch, bool done) const;

  const ScanTotals& totals() const { return totals_; }

 private:
  // A file record just written: into the totals and the step's bounds.
  void count_file(std::uint64_t size, std::size_t path_length, StepCounts& counts);

  ScanTotals totals_;
  std::vector<std::u16string> samples_;
  std::vector<std::u16string> skipped_;
};

}  // namespace mirrow
