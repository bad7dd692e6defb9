#include <windows.h>

#include "common/lowercase.h"

namespace mirrow {

void lower_in_place(char16_t* text, std::size_t length) {
  // CharLowerBuffW takes a 32-bit count; longer texts go in slices.
  while (length > 0) {
    const DWORD slice = length > 0x40000000u ? 0x40000000u : static_cast<DWORD>(length);
    CharLowerBuffW(reinterpret_cast<wchar_t*>(text), slice);
    text += slice;
    length -= slice;
  }
}

}  // namespace mirrow
