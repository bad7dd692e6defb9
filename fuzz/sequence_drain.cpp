#include "fuzz/sequence_drain.h"

#include <cstdio>
#include <limits>
#include <optional>

#include "common/utf16.h"
#include "support/strict_json.h"

namespace mirrow::fuzz {
namespace {

using testing::JsonValue;
using Kind = JsonValue::Kind;

bool read_record(const JsonValue& value, DrainRecord& record) {
  constexpr Kind shape[8] = {Kind::number, Kind::number, Kind::string, Kind::number,
                             Kind::number, Kind::string, Kind::number, Kind::number};
  if (value.kind != Kind::array || value.items.size() != 8) return false;
  for (std::size_t i = 0; i < 8; ++i) {
    if (value.items[i].kind != shape[i]) return false;
  }
  const std::optional<double> first = value.items[0].as_double();
  const std::optional<std::int64_t> root = value.items[1].as_i64();
  const std::optional<std::uint64_t> kind = value.items[3].as_u64();
  const std::optional<std::uint64_t> pid = value.items[4].as_u64();
  const std::optional<std::uint64_t> count = value.items[6].as_u64();
  const std::optional<double> last = value.items[7].as_double();
  if (!first || !root || !kind || !pid || !count || !last) return false;
  if (*kind > std::numeric_limits<std::uint32_t>::max() || *pid > std::numeric_limits<std::uint32_t>::max()) {
    return false;
  }
  record.first = *first;
  record.root = *root;
  record.name = value.items[2].as_text();
  record.kind = static_cast<std::uint32_t>(*kind);
  record.pid = static_cast<std::uint32_t>(*pid);
  record.second = value.items[5].as_text();
  record.count = *count;
  record.last = *last;
  return true;
}

}  // namespace

std::vector<DrainRecord> read_drain(std::string_view text, std::string& why) {
  why.clear();
  std::vector<DrainRecord> records;
  const std::optional<JsonValue> parsed = testing::parse_strict_json(text);
  if (!parsed || parsed->kind != Kind::array) {
    why = "the drain is not one tightly written JSON array";
    return {};
  }
  for (const JsonValue& item : parsed->items) {
    DrainRecord record;
    if (!read_record(item, record)) {
      why = "a drained record is not [number,number,string,number,number,string,number,number]";
      return {};
    }
    records.push_back(std::move(record));
  }
  return records;
}

std::string describe(const DrainRecord& r) {
  char times[96];
  std::snprintf(times, sizeof times, "%.17g..%.17g", r.first, r.last);
  return std::string("[") + times + " root " + std::to_string(r.root) + " \"" + utf8_from_utf16(r.name) +
         "\" kind " + std::to_string(r.kind) + " pid " + std::to_string(r.pid) + " second \"" +
         utf8_from_utf16(r.second) + "\" count " + std::to_string(r.count) + "]";
}

}  // namespace mirrow::fuzz
