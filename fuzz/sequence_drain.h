#pragma once
// One drain batch as the host reads it: a JSON array of records
// [first,root_id,"name",kind,pid,"second",count,last].
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mirrow::fuzz {

struct DrainRecord {
  double first = 0;
  std::int64_t root = 0;
  std::u16string name;
  std::uint32_t kind = 0;
  std::uint32_t pid = 0;
  std::u16string second;
  std::uint64_t count = 0;
  double last = 0;

  bool operator==(const DrainRecord&) const = default;
};

// The records of a batch read with the strict reader; empty `why` when the
// text is a well-formed batch, else what is wrong with it.
std::vector<DrainRecord> read_drain(std::string_view text, std::string& why);

// The record as text, for failure reports.
std::string describe(const DrainRecord& record);

}  // namespace mirrow::fuzz
