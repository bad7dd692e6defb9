#pragma once
// Case folding for case-insensitive comparisons: both sides are lower-cased
// whole with the platform's Unicode rules, then compared exactly.
#include <cstddef>
#include <string>

namespace mirrow {

void lower_in_place(char16_t* text, std::size_t length);

// The platform's rules map A to Z onto a to z and leave every other ASCII
// unit alone, whatever the language, so ASCII is lowered here and only the
// rest of a text from its first other unit on goes to the platform.
// lower_tail_in_place starts at unit `from`, for a text whose beginning is
// lower already.
inline void lower_tail_in_place(std::u16string& text, std::size_t from) {
  char16_t* units = text.data();
  const std::size_t length = text.size();
  for (std::size_t i = from; i < length; ++i) {
    const char16_t unit = units[i];
    if (unit >= 0x80) return lower_in_place(units + i, length - i);
    if (unit >= u'A' && unit <= u'Z') units[i] = static_cast<char16_t>(unit + 32);
  }
}

inline void lower_in_place(std::u16string& text) { lower_tail_in_place(text, 0); }

inline std::u16string to_lower(std::u16string text) {
  lower_in_place(text);
  return text;
}

}  // namespace mirrow
