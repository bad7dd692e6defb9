#include "host/scan_report.h"

#include "common/json_text.h"
#include "common/number_format.h"
#include "common/utf16.h"
#include "host/human_units.h"
#include "host/json_value.h"
#include "host/text_table.h"

namespace mirrow::host {
namespace {

constexpr std::size_t kSkippedShown = 20;

std::string sized_table(const std::vector<SizedPath>& entries, bool with_files) {
  std::vector<Column> columns{{"SIZE", Align::right}, {"BYTES", Align::right}};
  if (with_files) columns.push_back({"FILES", Align::right});
  columns.push_back({"PATH", Align::left});
  TextTable table(std::move(columns));
  for (const SizedPath& entry : entries) {
    std::vector<std::string> row{human_bytes(entry.bytes), grouped_count(entry.bytes)};
    if (with_files) row.push_back(grouped_count(entry.files));
    row.push_back(utf8_from_utf16(entry.path));
    table.add_row(std::move(row));
  }
  return table.render();
}

void append_string_array(std::string& out, const std::vector<std::u16string>& values) {
  out += '[';
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i != 0) out += ',';
    json_quote(out, values[i]);
  }
  out += ']';
}

void append_sized_array(std::string& out, const std::vector<SizedPath>& entries, bool with_files) {
  out += '[';
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i != 0) out += ',';
    out += "{\"path\":";
    json_quote(out, entries[i].path);
    out += ",\"bytes\":";
    append_u64(out, entries[i].bytes);
    if (with_files) {
      out += ",\"files\":";
      append_u64(out, entries[i].files);
    }
    out += '}';
  }
  out += ']';
}

}  // namespace

std::string scan_progress_line(std::uint64_t files, std::uint64_t bytes, std::uint64_t elapsed_ms) {
  return "scanning: " + grouped_count(files) + " files, " + human_bytes(bytes) + ", " + human_duration(elapsed_ms);
}

ScanWayFacts parse_scan_way(std::string_view text) {
  ScanWayFacts facts;
  const auto parsed = parse_json(text);
  if (!parsed) return facts;
  facts.way = utf8_from_utf16((*parsed)["way"].as_text());
  facts.reason = utf8_from_utf16((*parsed)["reason"].as_text());
  return facts;
}

std::string scan_way_line(const ScanWayFacts& way) {
  if (way.way == "table") return "the volume's master file table";
  if (way.way == "walk") return "walked the folders: " + way.reason;
  return "unknown";
}

std::string scan_summary_text(const ScanTally& tally, std::uint64_t elapsed_ms, const ScanWayFacts* way) {
  std::string out = utf8_from_utf16(tally.root()) + "\n";
  out += "  files:   " + grouped_count(tally.files()) + "\n";
  out += "  bytes:   " + grouped_count(tally.bytes()) + " (" + human_bytes(tally.bytes()) + ")\n";
  out += "  errors:  " + grouped_count(tally.errors()) + "\n";
  out += "  skipped: " + grouped_count(tally.skipped().size()) + " (reparse points or offline)\n";
  out += "  time:    " + human_duration(elapsed_ms) + "\n";
  if (way) out += "  way:     " + scan_way_line(*way) + "\n";
  if (!tally.samples().empty()) {
    out += "\nerrors (first " + std::to_string(tally.samples().size()) + "):\n";
    for (const auto& sample : tally.samples()) out += "  " + utf8_from_utf16(sample) + "\n";
  }
  if (!tally.skipped().empty()) {
    out += "\nskipped:\n";
    for (std::size_t i = 0; i < tally.skipped().size() && i < kSkippedShown; ++i)
      out += "  " + utf8_from_utf16(tally.skipped()[i]) + "\n";
    if (tally.skipped().size() > kSkippedShown)
      out += "  ... and " + grouped_count(tally.skipped().size() - kSkippedShown) + " more\n";
  }
  const auto folders = tally.largest_folders();
  if (!folders.empty()) out += "\nlargest folders:\n" + sized_table(folders, true);
  if (tally.folder_cap_reached())
    out += "(more than " + grouped_count(ScanTally::kFolderCap) + " folders: later ones are not sized)\n";
  const auto files = tally.largest_files();
  if (!files.empty()) out += "\nlargest files:\n" + sized_table(files, false);
  return out;
}

std::string scan_summary_json(const ScanTally& tally, std::uint64_t elapsed_ms, const ScanWayFacts* way) {
  std::string out = "{\"root\":";
  json_quote(out, tally.root());
  out += ",\"files\":";
  append_u64(out, tally.files());
  out += ",\"bytes\":";
  append_u64(out, tally.bytes());
  out += ",\"errors\":";
  append_u64(out, tally.errors());
  out += ",\"elapsed_ms\":";
  append_u64(out, elapsed_ms);
  out += ",\"samples\":";
  append_string_array(out, tally.samples());
  out += ",\"skipped\":";
  append_string_array(out, tally.skipped());
  out += ",\"largest_folders\":";
  append_sized_array(out, tally.largest_folders(), true);
  out += ",\"largest_files\":";
  append_sized_array(out, tally.largest_files(), false);
  if (way) {
    out += ",\"way\":";
    json_quote(out, utf16_from_utf8(way->way));
    out += ",\"reason\":";
    json_quote(out, utf16_from_utf8(way->reason));
  }
  out += "}\n";
  return out;
}

}  // namespace mirrow::host
