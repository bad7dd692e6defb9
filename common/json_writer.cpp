#include "common/json_writer.h"

#include "common/json_text.h"
#include "common/number_format.h"

namespace mirrow {

void JsonWriter::separate() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (depth_ == 0) return;
  if (written_[depth_ - 1]) out_ += ',';
  written_[depth_ - 1] = true;
}

JsonWriter& JsonWriter::open(char bracket) {
  separate();
  out_ += bracket;
  // Deeper nesting than the texts use is written but not tracked.
  if (depth_ < max_depth) written_[depth_] = false;
  ++depth_;
  return *this;
}

JsonWriter& JsonWriter::close(char bracket) {
  out_ += bracket;
  if (depth_ > 0) --depth_;
  return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
  separate();
  out_ += '"';
  out_ += name;
  out_ += "\":";
  after_key_ = true;
  return *this;
}

JsonWriter& JsonWriter::u64(std::uint64_t value) {
  separate();
  append_u64(out_, value);
  return *this;
}

JsonWriter& JsonWriter::i64(std::int64_t value) {
  separate();
  append_i64(out_, value);
  return *this;
}

JsonWriter& JsonWriter::quoted_u64(std::uint64_t value) {
  separate();
  out_ += '"';
  append_u64(out_, value);
  out_ += '"';
  return *this;
}

JsonWriter& JsonWriter::g17(double value) {
  separate();
  append_g17(out_, value);
  return *this;
}

JsonWriter& JsonWriter::g6(double value) {
  separate();
  append_g6(out_, value);
  return *this;
}

JsonWriter& JsonWriter::boolean(bool value) {
  separate();
  out_ += value ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::flag(bool value) {
  separate();
  out_ += value ? '1' : '0';
  return *this;
}

JsonWriter& JsonWriter::null() {
  separate();
  out_ += "null";
  return *this;
}

JsonWriter& JsonWriter::text(std::u16string_view value) {
  separate();
  json_quote(out_, value);
  return *this;
}

JsonWriter& JsonWriter::word(std::string_view value) {
  separate();
  out_ += '"';
  out_ += value;
  out_ += '"';
  return *this;
}

JsonWriter& JsonWriter::optional_u64(const std::optional<std::uint64_t>& value) {
  return value ? u64(*value) : null();
}

}  // namespace mirrow
