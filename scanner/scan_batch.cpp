#include "scanner/scan_batch.h"

#include "common/file_time.h"
#include "common/json_writer.h"

namespace mirrow {
namespace {

void append_string_array(JsonWriter& json, const std::vector<std::u16string>& texts) {
  json.begin_array();
  for (const std::u16string& text : texts) json.text(text);
  json.end_array();
}

}  // namespace

void begin_scan_batch(std::string& out) {
  out.clear();
  JsonWriter(out).begin_object().key("records").begin_array();
}

void append_file_record(std::string& out, bool first, std::u16string_view path, std::uint64_t size,
                        std::int64_t write_time, std::int64_t creation_time) {
  JsonWriter(out, !first)
      .begin_array()
      .text(path)
      .begin_array()
      .u64(size)
      .g17(unix_seconds_from_filetime(write_time))
      .g17(unix_seconds_from_filetime(creation_time))
      .end_array()
      .end_array();
}

void append_scan_batch_tail(std::string& out, const ScanTotals& totals, const std::vector<std::u16string>& samples,
                            const std::vector<std::u16string>& skipped) {
  // The records array closes; the batch object, which holds it, goes on.
  out.push_back(']');
  JsonWriter json(out, true);
  json.key("errors").u64(totals.errors).key("files").u64(totals.files).key("bytes").u64(totals.bytes);
  json.key("done").boolean(totals.done);
  json.key("samples");
  append_string_array(json, samples);
  json.key("skipped");
  append_string_array(json, skipped);
  json.end_object();
}

}  // namespace mirrow
