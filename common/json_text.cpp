#include "common/json_text.h"

#include "common/utf16.h"

namespace mirrow {

void json_quote(std::string& out, std::u16string_view s) {
  static constexpr char hex[] = "0123456789abcdef";
  out.reserve(out.size() + s.size() + 2);
  out.push_back('"');
  for (char16_t unit : s) {
    if (unit == u'"' || unit == u'\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(unit));
    } else if (unit < 0x20 || unit > 0x7E) {
      const char escape[6] = {'\\', 'u', hex[(unit >> 12) & 0xF], hex[(unit >> 8) & 0xF],
                              hex[(unit >> 4) & 0xF], hex[unit & 0xF]};
      out.append(escape, sizeof escape);
    } else {
      out.push_back(static_cast<char>(unit));
    }
  }
  out.push_back('"');
}

void json_quote_utf8(std::string& out, std::string_view utf8) {
  json_quote(out, utf16_from_utf8(utf8));
}

}  // namespace mirrow
