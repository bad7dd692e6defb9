#include "host/process_reports.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "common/utf16.h"
#include "host/human_units.h"
#include "host/json_value.h"
#include "host/text_table.h"

namespace mirrow::host {
namespace {

std::string digits_or_dash(const JsonValue& value) {
  const auto number = value.as_u64();
  return number ? std::to_string(*number) : "-";
}

std::string bytes_or_dash(const JsonValue& value) {
  const auto number = value.as_u64();
  return number ? human_bytes(*number) : "-";
}

std::string flag(const JsonValue& value) { return value.literal == "1" ? "yes" : "no"; }

std::string verdict(const JsonValue& value) {
  return value.as_text().empty() ? "may be frozen" : utf8_from_utf16(value.as_text());
}

}  // namespace

std::optional<std::string> process_table(std::string_view snapshot) {
  const auto report = parse_json(snapshot);
  if (!report || !(*report)["processes"].is_array()) return std::nullopt;
  TextTable table({{"PID", Align::right},
                   {"PARENT", Align::right},
                   {"SESSION", Align::right},
                   {"UI"},
                   {"SAME USER"},
                   {"NAME"},
                   {"VERDICT"}});
  for (const JsonValue& process : (*report)["processes"].items) {
    const auto session = process["session"].as_u64();
    table.add_row({digits_or_dash(process["pid"]), digits_or_dash(process["parent"]),
                   session && *session != 0xFFFFFFFFu ? std::to_string(*session) : "-", flag(process["ui"]),
                   flag(process["same_user"]), utf8_from_utf16(process["name"].as_text()),
                   verdict(process["protected"])});
  }
  std::string out = table.render();
  const auto status = (*report)["wmi_status"].as_i64();
  out += grouped_count(table.row_count()) + " processes";
  if (status && *status != 0)
    out += *status == 262148 ? "; command lines incomplete (WMI took too long)"
                             : "; command lines unavailable (WMI status " + std::to_string(*status) + ")";
  out += "\n";
  return out;
}

std::optional<std::string> memory_table(std::string_view text) {
  const auto report = parse_json(text);
  if (!report || !(*report)["processes"].is_array()) return std::nullopt;
  std::string out;
  if ((*report)["system_available"].literal == "1") {
    TextTable system({{"SYSTEM"}, {"SIZE", Align::right}});
    for (const char* key : {"physical_total", "physical_available", "commit_total", "commit_limit", "system_cache",
                            "paged_pool", "nonpaged_pool"})
      system.add_row({key, bytes_or_dash((*report)[key])});
    out += system.render() + "\n";
  } else {
    out += "system memory figures unavailable\n\n";
  }
  std::vector<const JsonValue*> processes;
  for (const JsonValue& process : (*report)["processes"].items) processes.push_back(&process);
  std::stable_sort(processes.begin(), processes.end(), [](const JsonValue* a, const JsonValue* b) {
    return (*a)["ws"].as_u64().value_or(0) > (*b)["ws"].as_u64().value_or(0);
  });
  TextTable table({{"PID", Align::right},
                   {"WORKING SET", Align::right},
                   {"PRIVATE", Align::right},
                   {"PRIVATE WS", Align::right},
                   {"NAME"}});
  for (const JsonValue* process : processes)
    table.add_row({digits_or_dash((*process)["pid"]), bytes_or_dash((*process)["ws"]),
                   bytes_or_dash((*process)["private_bytes"]), bytes_or_dash((*process)["private_ws"]),
                   utf8_from_utf16((*process)["name"].as_text())});
  return out + table.render();
}

std::optional<std::string> load_line(std::string_view text) {
  const auto report = parse_json(text);
  if (!report || !(*report)["names"].is_array()) return std::nullopt;
  const auto cpu = (*report)["cpu"].as_double();
  std::string out = "CPU load: ";
  if (cpu) {
    char figure[32];
    std::snprintf(figure, sizeof figure, "%.1f %%", *cpu);
    out += figure;
  } else {
    out += "measuring (first sample)";
  }
  return out + ", " + grouped_count((*report)["names"].items.size()) + " processes";
}

std::optional<std::string> crash_table(std::string_view text, std::int64_t utc_offset_seconds) {
  const auto report = parse_json(text);
  if (!report || !report->is_array()) return std::nullopt;
  TextTable table({{"TIME"}, {"ID", Align::right}, {"CHANNEL"}, {"PROVIDER"}});
  std::string unreadable;
  for (const JsonValue& event : report->items) {
    const std::string channel = utf8_from_utf16(event["channel"].as_text());
    if (!event["error"].is_null()) {
      unreadable += channel + " log unavailable (error " + digits_or_dash(event["error"]) + ")\n";
      continue;
    }
    const auto ticks = event["ticks"].as_u64();
    table.add_row({ticks ? date_time_from_filetime(*ticks, utc_offset_seconds) : "-", digits_or_dash(event["id"]),
                   channel, utf8_from_utf16(event["provider"].as_text())});
  }
  std::string out = table.row_count() == 0 ? std::string("no crash or unexpected-shutdown events\n") : table.render();
  return out + unreadable;
}

}  // namespace mirrow::host
