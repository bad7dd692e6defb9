#pragma once
// A small tolerant JSON reader for the texts the libraries and the guard hand
// out: members keep their order, numbers keep their literal text, strings are
// decoded to UTF-16. White space between tokens and after the value is
// accepted; nesting is bounded so a hostile text cannot exhaust the stack.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mirrow::host {

struct JsonValue {
  enum class Kind { null, boolean, number, string, array, object };
  Kind kind = Kind::null;
  bool boolean = false;
  std::string literal;  // a number exactly as written
  std::u16string text;  // a string, decoded
  std::vector<JsonValue> items;
  std::vector<std::pair<std::string, JsonValue>> members;

  // Defined where JsonValue is complete: clang, deciding whether a member
  // pair is implicitly default-constructible, would otherwise need this
  // constructor while it is still being defined.
  JsonValue();

  bool is_null() const { return kind == Kind::null; }
  bool is_array() const { return kind == Kind::array; }
  bool is_object() const { return kind == Kind::object; }

  // The member named `key`, or a shared null value when there is none.
  const JsonValue& operator[](std::string_view key) const;
  // The array item at `index`, or a shared null value when out of range.
  const JsonValue& operator[](std::size_t index) const;

  // An unsigned number, written bare or inside quotes ("created":"123");
  // nothing for anything else, a sign, a fraction or an overflow.
  std::optional<std::uint64_t> as_u64() const;
  // A signed whole number (an HRESULT such as -2147217405).
  std::optional<std::int64_t> as_i64() const;
  // Any number; nothing for other kinds.
  std::optional<double> as_double() const;
  // The decoded string, or an empty one for other kinds.
  const std::u16string& as_text() const;
};

// The value, or nothing when the text is not one JSON value.
std::optional<JsonValue> parse_json(std::string_view text);

}  // namespace mirrow::host
