#pragma once
// The one JSON string writer shared by every deliverable: all output is
// plain ASCII, anything outside printable ASCII travels as a \u escape.
#include <string>
#include <string_view>

namespace mirrow {

// Appends s as a JSON string literal: `"` and `\` get a back-slash, every
// UTF-16 unit below 0x20 or above 0x7E becomes \u with four lower-case hex
// digits (surrogate halves separately), everything else is its own byte.
void json_quote(std::string& out, std::u16string_view s);

// The same literal written at to, which has room for 6 * s.size() + 2 bytes;
// returns the end of what it wrote.
char* write_json_quoted(char* to, std::u16string_view s);

// Appends a UTF-8 text as a JSON string literal by the same rules, after
// decoding it to UTF-16 (invalid bytes become U+FFFD).
void json_quote_utf8(std::string& out, std::string_view utf8);

}  // namespace mirrow
