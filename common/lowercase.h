#pragma once
// Case folding for case-insensitive comparisons: both sides are lower-cased
// whole with the platform's Unicode rules, then compared exactly.
#include <cstddef>
#include <string>

namespace mirrow {

void lower_in_place(char16_t* text, std::size_t length);

inline void lower_in_place(std::u16string& text) {
  if (!text.empty()) lower_in_place(text.data(), text.size());
}

inline std::u16string to_lower(std::u16string text) {
  lower_in_place(text);
  return text;
}

}  // namespace mirrow
