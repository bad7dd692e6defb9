#include "host/engine_health.h"

#include <cstdio>
#include <map>

#include "common/number_format.h"
#include "common/utf16.h"
#include "host/human_units.h"
#include "host/json_value.h"
#include "host/text_table.h"

namespace mirrow::host {
namespace {

struct Slot {
  const char* name;
  bool flag;
};

constexpr std::array<Slot, kStatisticsCount> kSlots{{
    {"events", false},
    {"errors", false},
    {"unattributed", false},
    {"key_derived_bindings", false},
    {"own_io", false},
    {"dropped", false},
    {"watch_losses", false},
    {"watch_notifications", false},
    {"capture_live", true},
    {"watchers_healthy", true},
    {"probe_seen", true},
    {"events_lost", false},
    {"buffers_lost", false},
}};

std::string yes_no(bool value) { return value ? "yes" : "no"; }

// Whole numbers as written; fractions (seconds) with three decimals rather
// than seventeen digits.
std::string readable_number(const JsonValue& value) {
  if (value.literal.find_first_of(".eE") == std::string::npos) return value.literal;
  const auto number = value.as_double();
  if (!number) return value.literal;
  char text[64];
  std::snprintf(text, sizeof text, "%.3f", *number);
  return text;
}

}  // namespace

std::string statistics_text(const Statistics& values) {
  TextTable table({{"STATISTIC"}, {"VALUE", Align::right}});
  for (std::size_t i = 0; i < kStatisticsCount; ++i)
    table.add_row({kSlots[i].name, kSlots[i].flag ? yes_no(values[i] != 0) : grouped_count(values[i])});
  return table.render();
}

std::string statistics_json(const Statistics& values) {
  std::string out = "{";
  for (std::size_t i = 0; i < kStatisticsCount; ++i) {
    if (i != 0) out += ',';
    out += '"';
    out += kSlots[i].name;
    out += "\":";
    append_u64(out, values[i]);
  }
  out += '}';
  return out;
}

std::string diagnostics_text(std::string_view document) {
  const auto value = parse_json(document);
  if (!value || !value->is_object()) return "diagnostics: " + std::string(document) + "\n";
  TextTable table({{"DIAGNOSTIC"}, {"VALUE", Align::right}});
  std::string samples;
  for (const auto& [key, member] : value->members) {
    if (member.is_array()) {
      std::map<std::string, std::uint64_t> reasons;
      for (const JsonValue& sample : member.items) ++reasons[utf8_from_utf16(sample["reason"].as_text())];
      table.add_row({key, std::to_string(member.items.size())});
      for (const auto& [reason, count] : reasons) samples += "  " + reason + ": " + std::to_string(count) + "\n";
    } else if (member.kind == JsonValue::Kind::boolean) {
      table.add_row({key, yes_no(member.boolean)});
    } else {
      table.add_row({key, readable_number(member)});
    }
  }
  std::string out = table.render();
  if (!samples.empty()) out += "unknown samples by reason:\n" + samples;
  return out;
}

}  // namespace mirrow::host
