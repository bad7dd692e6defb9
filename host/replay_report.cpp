#include "host/replay_report.h"

#include "common/json_writer.h"
#include "common/utf16.h"
#include "host/json_value.h"

namespace mirrow::host {
namespace {

std::string source_sentence(std::u16string_view source) {
  if (source == u"option") return "from --device";
  if (source == u"recording") return "from the recording";
  return "of this machine (the recording holds none)";
}

// The records of one drain batch without its brackets.
std::string_view records_of(std::string_view batch) {
  if (batch.size() < 2 || batch.front() != '[' || batch.back() != ']') return {};
  return batch.substr(1, batch.size() - 2);
}

void write_device_map(JsonWriter& json, const JsonValue& map) {
  json.key("device_map").begin_object().key("source").text(map["source"].as_text()).key("entries").begin_array();
  for (const JsonValue& entry : map["entries"].items)
    json.begin_object().key("device").text(entry["device"].as_text()).key("drive").text(entry["drive"].as_text()).end_object();
  json.end_array().end_object();
}

}  // namespace

std::string replay_summary_text(std::string_view report) {
  const auto parsed = parse_json(report);
  if (!parsed) return std::string(report) + "\n";
  const JsonValue& r = *parsed;
  std::string text = "replayed " + utf8_from_utf16(r["file"].as_text()) + ": " + r["events_read"].literal +
                     " events read, " + r["events_skipped"].literal + " skipped\n";
  const JsonValue& map = r["device_map"];
  text += "device map " + source_sentence(map["source"].as_text()) + ":";
  if (map["entries"].items.empty()) text += " none";
  const char* separator = " ";
  for (const JsonValue& entry : map["entries"].items) {
    text += separator + utf8_from_utf16(entry["device"].as_text()) + " = " + utf8_from_utf16(entry["drive"].as_text());
    separator = ", ";
  }
  text += "\n";
  for (const JsonValue& skip : r["skipped"].items) {
    text += "  skipped at byte " + skip["buffer_offset"].literal + " (+" + skip["record_offset"].literal +
            "): " + utf8_from_utf16(skip["what"].as_text()) + "\n";
  }
  return text;
}

std::string replay_problem(std::string_view report) {
  const auto parsed = parse_json(report);
  return parsed ? utf8_from_utf16((*parsed)["problem"].as_text()) : std::string();
}

std::string replay_json(std::string_view report, const std::vector<std::string>& batches,
                        const Statistics& statistics, std::string_view diagnostics) {
  const JsonValue parsed = parse_json(report).value_or(JsonValue{});
  std::string activity = "[";
  for (const std::string& batch : batches) {
    const std::string_view records = records_of(batch);
    if (records.empty()) continue;
    if (activity.size() > 1) activity += ',';
    activity += records;
  }
  activity += ']';
  std::string out;
  JsonWriter json(out);
  json.begin_object()
      .key("file").text(parsed["file"].as_text())
      .key("events_read").u64(parsed["events_read"].as_u64().value_or(0))
      .key("events_skipped").u64(parsed["events_skipped"].as_u64().value_or(0));
  write_device_map(json, parsed["device_map"]);
  json.end_object();
  // The three documents that come whole go in as they are.
  out.pop_back();
  out += ",\"activity\":" + activity + ",\"statistics\":" + statistics_json(statistics) +
         ",\"diagnostics\":" + (diagnostics.empty() ? std::string("null") : std::string(diagnostics)) + "}";
  return out;
}

std::u16string device_entries(const std::vector<std::u16string>& devices) {
  std::u16string text;
  for (const std::u16string& device : devices) text += device + u"\n";
  return text;
}

}  // namespace mirrow::host
