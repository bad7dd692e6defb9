#include "common/json_text.h"

#include "common/utf16.h"

namespace mirrow {

char* write_json_quoted(char* to, std::u16string_view s) {
  static constexpr char hex[] = "0123456789abcdef";
  *to++ = '"';
  for (char16_t unit : s) {
    if (unit == u'"' || unit == u'\\') {
      *to++ = '\\';
      *to++ = static_cast<char>(unit);
    } else if (unit < 0x20 || unit > 0x7E) {
      *to++ = '\\';
      *to++ = 'u';
      *to++ = hex[(unit >> 12) & 0xF];
      *to++ = hex[(unit >> 8) & 0xF];
      *to++ = hex[(unit >> 4) & 0xF];
      *to++ = hex[unit & 0xF];
    } else {
      *to++ = static_cast<char>(unit);
    }
  }
  *to++ = '"';
  return to;
}

void json_quote(std::string& out, std::u16string_view s) {
  // Room for the worst case, written through a pointer and cut back to what
  // was used: a drain quotes thousands of paths.
  const std::size_t start = out.size();
  out.resize(start + 6 * s.size() + 2);
  char* end = write_json_quoted(out.data() + start, s);
  out.resize(static_cast<std::size_t>(end - out.data()));
}

void json_quote_utf8(std::string& out, std::string_view utf8) {
  json_quote(out, utf16_from_utf8(utf8));
}

}  // namespace mirrow
