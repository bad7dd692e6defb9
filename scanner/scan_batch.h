#pragma once
// The text of one scan batch: a single-line JSON object with the file
// records of one step and the scanner's running totals, keys always present
// and in a fixed order:
// {"records":[[path,[size,mtime,ctime]],...],"errors":N,"files":N,"bytes":N,
//  "done":B,"samples":[...],"skipped":[...]}
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mirrow {

struct ScanTotals {
  std::uint64_t errors = 0;
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
  bool done = false;
};

// Clears out and writes the head of a batch.
void begin_scan_batch(std::string& out);

// Appends one file record; first tells whether it opens the record list.
// Times are file times (100-ns units since 1601) printed as Unix seconds.
void append_file_record(std::string& out, bool first, std::u16string_view path, std::uint64_t size,
                        std::int64_t write_time, std::int64_t creation_time);

// A folder's path as the records of its files begin: the opening quote,
// the quoted path and the separator, with no closing quote. A scan quotes
// each folder once instead of once for every file in it.
void quote_folder(std::string& out, std::u16string_view folder);

// The same record as append_file_record for the path folder + '\' + name
// (no separator added after a drive root), with folder quoted by
// quote_folder; name holds no separator.
void append_file_record_in(std::string& out, bool first, std::string_view quoted_folder, std::u16string_view name,
                           std::uint64_t size, std::int64_t write_time, std::int64_t creation_time);

// Closes the record list and appends the totals, samples and skipped paths.
void append_scan_batch_tail(std::string& out, const ScanTotals& totals, const std::vector<std::u16string>& samples,
                            const std::vector<std::u16string>& skipped);

}  // namespace mirrow
