#include "host/json_value.h"

#include <charconv>

namespace mirrow::host {

JsonValue::JsonValue() = default;

namespace {

constexpr int kMaxDepth = 64;

const JsonValue& null_value() {
  static const JsonValue value;
  return value;
}

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  std::optional<JsonValue> document() {
    JsonValue value;
    skip_space();
    if (!read_value(value, 0)) return std::nullopt;
    skip_space();
    if (at_ != text_.size()) return std::nullopt;
    return value;
  }

 private:
  void skip_space() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\r' || text_[at_] == '\n'))
      ++at_;
  }
  bool take(char c) {
    skip_space();
    if (at_ >= text_.size() || text_[at_] != c) return false;
    ++at_;
    return true;
  }
  bool word(std::string_view w) {
    if (text_.substr(at_, w.size()) != w) return false;
    at_ += w.size();
    return true;
  }

  bool read_value(JsonValue& v, int depth) {
    if (depth > kMaxDepth) return false;
    skip_space();
    if (at_ >= text_.size()) return false;
    switch (text_[at_]) {
      case '{': return read_object(v, depth);
      case '[': return read_array(v, depth);
      case '"': v.kind = JsonValue::Kind::string; return read_string(v.text);
      default: break;
    }
    if (word("null")) return v.kind = JsonValue::Kind::null, true;
    if (word("true")) return v.kind = JsonValue::Kind::boolean, v.boolean = true, true;
    if (word("false")) return v.kind = JsonValue::Kind::boolean, v.boolean = false, true;
    return read_number(v);
  }

  bool read_object(JsonValue& v, int depth) {
    v.kind = JsonValue::Kind::object;
    ++at_;
    if (take('}')) return true;
    do {
      skip_space();
      std::u16string key;
      if (at_ >= text_.size() || text_[at_] != '"' || !read_string(key) || !take(':')) return false;
      JsonValue member;
      if (!read_value(member, depth + 1)) return false;
      v.members.emplace_back(std::string(key.begin(), key.end()), std::move(member));
    } while (take(','));
    return take('}');
  }

  bool read_array(JsonValue& v, int depth) {
    v.kind = JsonValue::Kind::array;
    ++at_;
    if (take(']')) return true;
    do {
      JsonValue item;
      if (!read_value(item, depth + 1)) return false;
      v.items.push_back(std::move(item));
    } while (take(','));
    return take(']');
  }

  bool read_hex4(char16_t& unit) {
    if (text_.size() - at_ < 4) return false;
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text_.data() + at_, text_.data() + at_ + 4, value, 16);
    if (error != std::errc() || end != text_.data() + at_ + 4) return false;
    unit = static_cast<char16_t>(value);
    at_ += 4;
    return true;
  }

  bool read_string(std::u16string& out) {
    ++at_;  // opening quote
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == '"') return true;
      if (c != '\\') {
        out.push_back(static_cast<unsigned char>(c));  // the texts are ASCII; other bytes kept as Latin-1
        continue;
      }
      if (at_ >= text_.size()) return false;
      const char escape = text_[at_++];
      switch (escape) {
        case '"': case '\\': case '/': out.push_back(static_cast<char16_t>(escape)); break;
        case 'b': out.push_back(u'\b'); break;
        case 'f': out.push_back(u'\f'); break;
        case 'n': out.push_back(u'\n'); break;
        case 'r': out.push_back(u'\r'); break;
        case 't': out.push_back(u'\t'); break;
        case 'u': {
          char16_t unit = 0;
          if (!read_hex4(unit)) return false;
          out.push_back(unit);
          break;
        }
        default: return false;
      }
    }
    return false;
  }

  bool read_number(JsonValue& v) {
    const std::size_t start = at_;
    while (at_ < text_.size()) {
      const char c = text_[at_];
      if ((c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E') {
        ++at_;
      } else {
        break;
      }
    }
    if (at_ == start) return false;
    v.kind = JsonValue::Kind::number;
    v.literal.assign(text_.substr(start, at_ - start));
    return true;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

template <typename T>
std::optional<T> whole_number(std::string_view digits) {
  T value{};
  if (digits.empty()) return std::nullopt;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return value;
}

std::string narrow_ascii(const std::u16string& text) {
  std::string out;
  for (const char16_t unit : text) {
    if (unit > 0x7F) return {};
    out.push_back(static_cast<char>(unit));
  }
  return out;
}

}  // namespace

const JsonValue& JsonValue::operator[](std::string_view key) const {
  for (const auto& member : members)
    if (member.first == key) return member.second;
  return null_value();
}

const JsonValue& JsonValue::operator[](std::size_t index) const {
  return index < items.size() ? items[index] : null_value();
}

std::optional<std::uint64_t> JsonValue::as_u64() const {
  if (kind == Kind::number) return whole_number<std::uint64_t>(literal);
  if (kind == Kind::string) return whole_number<std::uint64_t>(narrow_ascii(text));
  return std::nullopt;
}

std::optional<std::int64_t> JsonValue::as_i64() const {
  if (kind == Kind::number) return whole_number<std::int64_t>(literal);
  if (kind == Kind::string) return whole_number<std::int64_t>(narrow_ascii(text));
  return std::nullopt;
}

std::optional<double> JsonValue::as_double() const {
  if (kind != Kind::number) return std::nullopt;
  double value = 0;
  const auto [end, error] = std::from_chars(literal.data(), literal.data() + literal.size(), value);
  if (error != std::errc() || end != literal.data() + literal.size()) return std::nullopt;
  return value;
}

const std::u16string& JsonValue::as_text() const {
  static const std::u16string empty;
  return kind == Kind::string ? text : empty;
}

std::optional<JsonValue> parse_json(std::string_view text) { return Reader(text).document(); }

}  // namespace mirrow::host
