#include "host/activity_lines.h"

#include <array>

#include "common/utf16.h"
#include "host/human_units.h"
#include "host/json_value.h"

namespace mirrow::host {
namespace {

constexpr std::array<const char*, 10> kKindWords{
    "read", "write", "created", "deleted", "renamed", "missing-open", "added", "modified", "removed", "renamed→"};
constexpr std::size_t kKindColumn = 12;  // the longest word, "missing-open"
constexpr std::size_t kPidColumn = 7;

std::optional<ActivityRecord> record_of(const JsonValue& item) {
  if (!item.is_array() || item.items.size() != 8) return std::nullopt;
  const auto first = item[0].as_double();
  const auto root = item[1].as_i64();
  const auto kind = item[3].as_u64();
  const auto pid = item[4].as_u64();
  const auto count = item[6].as_u64();
  const auto last = item[7].as_double();
  if (!first || !root || !kind || !pid || !count || !last || item[2].kind != JsonValue::Kind::string ||
      item[5].kind != JsonValue::Kind::string || *kind > UINT32_MAX || *pid > UINT32_MAX)
    return std::nullopt;
  return ActivityRecord{*first, *root, item[2].text, static_cast<std::uint32_t>(*kind),
                        static_cast<std::uint32_t>(*pid), item[5].text, *count, *last};
}

std::string padded_right(std::string text, std::size_t width) {
  std::size_t shown = 0;
  for (const char c : text)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++shown;
  if (shown < width) text.append(width - shown, ' ');
  return text;
}

std::string padded_left(std::string text, std::size_t width) {
  return text.size() < width ? std::string(width - text.size(), ' ') + text : text;
}

}  // namespace

std::optional<DrainBatch> parse_drain(std::string_view text) {
  const auto value = parse_json(text);
  if (!value || !value->is_array()) return std::nullopt;
  DrainBatch batch;
  for (const JsonValue& item : value->items) {
    if (auto record = record_of(item)) {
      batch.records.push_back(std::move(*record));
    } else {
      ++batch.malformed;
    }
  }
  return batch;
}

std::string kind_word(std::uint32_t kind) {
  if (kind >= 1 && kind <= kKindWords.size()) return kKindWords[kind - 1];
  return "kind-" + std::to_string(kind);
}

std::string activity_line(const ActivityRecord& record, std::int64_t utc_offset_seconds) {
  std::string line = clock_time(record.first, utc_offset_seconds);
  line += "  " + padded_right(kind_word(record.kind), kKindColumn);
  line += "  " + padded_left(std::to_string(record.pid), kPidColumn);
  line += "  " + utf8_from_utf16(record.path);
  if (!record.new_path.empty()) line += " → " + utf8_from_utf16(record.new_path);
  line += "  ×" + grouped_count(record.count);
  return line;
}

}  // namespace mirrow::host
