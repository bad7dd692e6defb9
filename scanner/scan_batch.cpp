#include "scanner/scan_batch.h"

#include "common/file_time.h"
#include "common/json_text.h"
#include "common/number_format.h"

namespace mirrow {
namespace {

void append_string_array(std::string& out, const std::vector<std::u16string>& texts) {
  out.push_back('[');
  bool first = true;
  for (const std::u16string& text : texts) {
    if (!first) out.push_back(',');
    first = false;
    json_quote(out, text);
  }
  out.push_back(']');
}

}  // namespace

void begin_scan_batch(std::string& out) {
  out.clear();
  out += "{\"records\":[";
}

void append_file_record(std::string& out, bool first, std::u16string_view path, std::uint64_t size,
                        std::int64_t write_time, std::int64_t creation_time) {
  if (!first) out.push_back(',');
  out.push_back('[');
  json_quote(out, path);
  out += ",[";
  append_u64(out, size);
  out.push_back(',');
  append_g17(out, unix_seconds_from_filetime(write_time));
  out.push_back(',');
  append_g17(out, unix_seconds_from_filetime(creation_time));
  out += "]]";
}

void append_scan_batch_tail(std::string& out, const ScanTotals& totals, const std::vector<std::u16string>& samples,
                            const std::vector<std::u16string>& skipped) {
  out += "],\"errors\":";
  append_u64(out, totals.errors);
  out += ",\"files\":";
  append_u64(out, totals.files);
  out += ",\"bytes\":";
  append_u64(out, totals.bytes);
  out += totals.done ? ",\"done\":true" : ",\"done\":false";
  out += ",\"samples\":";
  append_string_array(out, samples);
  out += ",\"skipped\":";
  append_string_array(out, skipped);
  out.push_back('}');
}

}  // namespace mirrow
