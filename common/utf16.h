#pragma once
// UTF-16 text as the pure code keeps it (char16_t), and conversions to and
// from UTF-8 for the few places that print for people.
#include <string>
#include <string_view>

namespace mirrow {

using u16string = std::u16string;

// Decodes UTF-8; an invalid or truncated sequence becomes U+FFFD.
std::u16string utf16_from_utf8(std::string_view utf8);

// Encodes UTF-16; an unpaired surrogate becomes U+FFFD.
std::string utf8_from_utf16(std::u16string_view utf16);

// Length of a NUL-terminated UTF-16 string.
inline std::size_t utf16_length(const char16_t* s) {
  std::size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

}  // namespace mirrow
