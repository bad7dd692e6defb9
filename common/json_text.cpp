#include "common/json_text.h"

#include <emmintrin.h>

#include <algorithm>

#include "common/utf16.h"

namespace mirrow {

namespace {

// One unit at a time, by the rules of json_quote.
void write_units(char*& to, std::u16string_view s) {
  static constexpr char hex[] = "0123456789abcdef";
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
}

// Eight units at once while all are printable ASCII other than the quote
// and the back-slash, which is nearly every unit of a path: each is its own
// byte. Returns how many units were written plain: up to the first special
// unit, or every whole block when there is none. A block holding a special
// unit is stored whole too; the bytes from that unit on are written over by
// what follows, and the caller's room (six bytes a unit) holds the eight.
std::size_t write_plain_run(char* to, const char16_t* units, std::size_t count) {
  std::size_t done = 0;
  const __m128i below = _mm_set1_epi16(0x20);
  const __m128i above = _mm_set1_epi16(0x7E);
  const __m128i quote = _mm_set1_epi16('"');
  const __m128i backslash = _mm_set1_epi16('\\');
  for (; done + 8 <= count; done += 8) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + done));
    // Signed compares: units from 0x8000 up count as below 0x20.
    const __m128i outside = _mm_or_si128(_mm_cmplt_epi16(block, below), _mm_cmpgt_epi16(block, above));
    const __m128i escaped = _mm_or_si128(_mm_cmpeq_epi16(block, quote), _mm_cmpeq_epi16(block, backslash));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(to + done), _mm_packus_epi16(block, block));
    // Two mask bits per unit: the lowest set bit over two is the first special unit.
    const unsigned special = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(outside, escaped)));
    if (special != 0) return done + static_cast<std::size_t>(__builtin_ctz(special) / 2);
  }
  return done;
}

}  // namespace

char* write_json_quoted(char* to, std::u16string_view s) {
  *to++ = '"';
  while (!s.empty()) {
    const std::size_t plain = write_plain_run(to, s.data(), s.size());
    to += plain;
    s.remove_prefix(plain);
    // The back-slash that separates a path's names is most of them.
    if (s.size() >= 8 && s.front() == u'\\') {
      to[0] = '\\';
      to[1] = '\\';
      to += 2;
      s.remove_prefix(1);
      continue;
    }
    // The special unit found, or the last few units one by one.
    const std::size_t step = s.size() < 8 ? s.size() : 1;
    write_units(to, s.substr(0, step));
    s.remove_prefix(step);
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
