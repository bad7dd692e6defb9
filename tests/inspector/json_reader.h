#pragma once
// A small strict JSON reader for checking report texts: members keep their
// order, numbers keep their literal text, strings are decoded to UTF-16.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mirrow::inspector::testing {

struct JsonValue {
  enum class Kind { null, boolean, number, string, array, object };
  Kind kind = Kind::null;
  std::string literal;  // number or boolean exactly as written
  std::u16string string;
  std::vector<JsonValue> items;
  std::vector<std::pair<std::string, JsonValue>> members;

  std::vector<std::string> keys() const {
    std::vector<std::string> names;
    for (const auto& member : members) names.push_back(member.first);
    return names;
  }
  const JsonValue* find(std::string_view key) const {
    for (const auto& member : members)
      if (member.first == key) return &member.second;
    return nullptr;
  }
  const JsonValue& at(std::string_view key) const {
    static const JsonValue missing;
    const JsonValue* value = find(key);
    return value != nullptr ? *value : missing;
  }
};

class JsonReader {
 public:
  // The value when the whole text is exactly one JSON value without any white
  // space; nullopt otherwise.
  static std::optional<JsonValue> parse(std::string_view text) {
    JsonReader reader(text);
    JsonValue value;
    if (!reader.value(value) || reader.at_ != text.size()) return std::nullopt;
    return value;
  }

 private:
  explicit JsonReader(std::string_view text) : text_(text) {}

  bool peek(char c) const { return at_ < text_.size() && text_[at_] == c; }
  bool take(char c) {
    if (!peek(c)) return false;
    ++at_;
    return true;
  }
  bool word(std::string_view w) {
    if (text_.substr(at_, w.size()) != w) return false;
    at_ += w.size();
    return true;
  }

  bool value(JsonValue& v) {
    if (peek('{')) return object(v);
    if (peek('[')) return array(v);
    if (peek('"')) {
      v.kind = JsonValue::Kind::string;
      return string(v.string);
    }
    if (word("null")) return v.kind = JsonValue::Kind::null, true;
    if (word("true")) return v.kind = JsonValue::Kind::boolean, v.literal = "true", true;
    if (word("false")) return v.kind = JsonValue::Kind::boolean, v.literal = "false", true;
    return number(v);
  }

  bool object(JsonValue& v) {
    v.kind = JsonValue::Kind::object;
    take('{');
    if (take('}')) return true;
    do {
      std::u16string key;
      JsonValue member;
      if (!string(key) || !take(':') || !value(member)) return false;
      v.members.emplace_back(std::string(key.begin(), key.end()), std::move(member));
    } while (take(','));
    return take('}');
  }

  bool array(JsonValue& v) {
    v.kind = JsonValue::Kind::array;
    take('[');
    if (take(']')) return true;
    do {
      JsonValue item;
      if (!value(item)) return false;
      v.items.push_back(std::move(item));
    } while (take(','));
    return take(']');
  }

  bool string(std::u16string& out) {
    if (!take('"')) return false;
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        out.push_back(static_cast<unsigned char>(c));
        continue;
      }
      if (at_ >= text_.size()) return false;
      const char e = text_[at_++];
      if (e == 'u') {
        if (at_ + 4 > text_.size()) return false;
        out.push_back(static_cast<char16_t>(std::stoul(std::string(text_.substr(at_, 4)), nullptr, 16)));
        at_ += 4;
      } else if (e == '"' || e == '\\' || e == '/') {
        out.push_back(static_cast<unsigned char>(e));
      } else {
        return false;  // the reports use only \" \\ and \u
      }
    }
    return false;
  }

  bool number(JsonValue& v) {
    const std::size_t start = at_;
    take('-');
    const std::size_t digits = at_;
    while (at_ < text_.size() && std::string_view("0123456789.eE+-").find(text_[at_]) != std::string_view::npos) ++at_;
    if (at_ == digits) return false;
    v.kind = JsonValue::Kind::number;
    v.literal = std::string(text_.substr(start, at_ - start));
    return true;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

}  // namespace mirrow::inspector::testing
