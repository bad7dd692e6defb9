#include "scanner/scan_batch.h"

#include <algorithm>

#include "common/file_time.h"
#include "common/json_text.h"
#include "common/json_writer.h"
#include "common/number_format.h"

namespace mirrow {
namespace {

void append_string_array(JsonWriter& json, const std::vector<std::u16string>& texts) {
  json.begin_array();
  for (const std::u16string& text : texts) json.text(text);
  json.end_array();
}

// Bytes a record can take at most: the quoted path at six bytes a unit,
// the size, two times and the punctuation.
std::size_t file_record_room(std::u16string_view path) { return 6 * path.size() + 2 + 20 + 2 * g17_max_chars + 8; }

char* put(char* to, char c) {
  *to = c;
  return to + 1;
}

// A record's text after its quoted path: the size and both times. Room
// for it is made by the caller.
char* write_record_rest(char* to, std::uint64_t size, std::int64_t write_time, std::int64_t creation_time) {
  to = write_u64(put(put(to, ','), '['), size);
  to = write_g17(put(to, ','), unix_seconds_from_filetime(write_time));
  to = write_g17(put(to, ','), unix_seconds_from_filetime(creation_time));
  return put(put(to, ']'), ']');
}

}  // namespace

void begin_scan_batch(std::string& out) {
  out.clear();
  JsonWriter(out).begin_object().key("records").begin_array();
}

void append_file_record(std::string& out, bool first, std::u16string_view path, std::uint64_t size,
                        std::int64_t write_time, std::int64_t creation_time) {
  // Written straight into room made for the longest form, then cut back to
  // what was written: a scan writes a million of these, and the general
  // writer's bookkeeping per bracket and comma cost more than the text.
  const std::size_t start = out.size();
  out.resize(start + file_record_room(path));
  char* to = out.data() + start;
  if (!first) to = put(to, ',');
  to = write_json_quoted(put(to, '['), path);
  to = write_record_rest(to, size, write_time, creation_time);
  out.resize(static_cast<std::size_t>(to - out.data()));
}

void quote_folder(std::string& out, std::u16string_view folder) {
  out.clear();
  json_quote(out, folder);
  out.pop_back();  // the closing quote: the name follows
  if (folder.empty() || folder.back() != u'\\') out += "\\\\";
}

void append_file_record_in(std::string& out, bool first, std::string_view quoted_folder, std::u16string_view name,
                           std::uint64_t size, std::int64_t write_time, std::int64_t creation_time) {
  const std::size_t start = out.size();
  out.resize(start + quoted_folder.size() + file_record_room(name));
  char* to = out.data() + start;
  if (!first) to = put(to, ',');
  to = std::copy(quoted_folder.begin(), quoted_folder.end(), put(to, '['));
  // The name quoted on its own, its opening quote written over the folder's
  // last byte and that byte put back: quoting escapes each unit by itself,
  // so the two halves join into the whole path's text.
  char* const name_at = to;
  const char folder_end = name_at[-1];
  to = write_json_quoted(name_at - 1, name);
  name_at[-1] = folder_end;
  to = write_record_rest(to, size, write_time, creation_time);
  out.resize(static_cast<std::size_t>(to - out.data()));
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
