#pragma once
// Small readers for scan batch texts in tests: the record paths as they are
// written (still escaped) and the values of the totals.
#include <string>
#include <string_view>
#include <vector>

namespace mirrow::scan_test {

// The escaped path text of every record, in order.
std::vector<std::string> record_paths(std::string_view batch);

// The raw text of a top-level value such as "files" or "skipped".
std::string value_of(std::string_view batch, std::string_view key);

inline bool is_done(std::string_view batch) { return value_of(batch, "done") == "true"; }

}  // namespace mirrow::scan_test
