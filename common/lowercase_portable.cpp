// Lower-casing for the native build, which has no CharLowerBuffW. It covers
// the alphabets the tests use (ASCII, Latin-1, Latin Extended-A, Greek,
// Cyrillic); the Windows build uses the platform's full tables.
#include "common/lowercase.h"

namespace mirrow {
namespace {

char16_t lower_unit(char16_t c) {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return static_cast<char16_t>(c + 32);
  if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x138 && c != 0x149 && c != 0x17F) {
    const bool odd_upper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (odd_upper) return (c & 1) ? static_cast<char16_t>(c + 1) : c;
    if (c == 0x178) return 0xFF;
    return (c & 1) ? c : static_cast<char16_t>(c + 1);
  }
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return static_cast<char16_t>(c + 32);
  if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 32);
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 80);
  return c;
}

}  // namespace

void lower_in_place(char16_t* text, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) text[i] = lower_unit(text[i]);
}

}  // namespace mirrow
