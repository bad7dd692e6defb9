#pragma once
// Writing one member of a report object: the key text already carries its
// leading "," or "{", its quotes and the colon.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/json_text.h"
#include "common/number_format.h"

namespace mirrow::inspector {

inline void append_number(std::string& out, std::string_view key, std::uint64_t value) {
  out += key;
  append_u64(out, value);
}

// A number inside quotes, for 64-bit values a JavaScript host would round.
inline void append_quoted_number(std::string& out, std::string_view key, std::uint64_t value) {
  out += key;
  out += '"';
  append_u64(out, value);
  out += '"';
}

// An absent value is written as null.
inline void append_optional_number(std::string& out, std::string_view key, const std::optional<std::uint64_t>& value) {
  out += key;
  if (value) append_u64(out, *value);
  else out += "null";
}

inline void append_text(std::string& out, std::string_view key, std::u16string_view value) {
  out += key;
  json_quote(out, value);
}

// Booleans travel as the digits 1 and 0.
inline void append_flag(std::string& out, std::string_view key, bool value) {
  out += key;
  out += value ? '1' : '0';
}

}  // namespace mirrow::inspector
