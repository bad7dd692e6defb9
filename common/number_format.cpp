#include "common/number_format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace mirrow {
namespace {

// buffer holds at least g17_max_chars.
char* write_general(char* to, double value, int precision) {
  if (std::isnan(value)) return std::copy_n("nan", 3, to);
  if (std::isinf(value)) return value < 0 ? std::copy_n("-inf", 4, to) : std::copy_n("inf", 3, to);
  return std::to_chars(to, to + g17_max_chars, value, std::chars_format::general, precision).ptr;
}

void append_general(std::string& out, double value, int precision) {
  char buffer[g17_max_chars];
  out.append(buffer, write_general(buffer, value, precision));
}

}  // namespace

void append_u64(std::string& out, std::uint64_t value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

void append_i64(std::string& out, std::int64_t value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}


char* write_u64(char* to, std::uint64_t value) { return std::to_chars(to, to + 20, value).ptr; }

char* write_i64(char* to, std::int64_t value) { return std::to_chars(to, to + 20, value).ptr; }

namespace {

// The eight digits of value (below 10^8), zero-padded, written at once:
// both four-digit halves, then their two-digit halves, then the digits are
// split in parallel lanes of one 64-bit word, with divisions by 100 and 10
// done as multiplications that are exact over these ranges. A drain writes
// two times per record. Returns the digits' word before they became
// characters: each byte the digit itself.
std::uint64_t write_eight_digits(char* to, std::uint32_t value) {
  const std::uint64_t fours = (value / 10000) | (static_cast<std::uint64_t>(value % 10000) << 32);
  const std::uint64_t hundreds = ((fours * 5243) >> 19) & 0x0000007F0000007FULL;  // lanes below 10^4: / 100
  const std::uint64_t twos = hundreds | ((fours - hundreds * 100) << 16);
  const std::uint64_t tens = ((twos * 103) >> 10) & 0x000F000F000F000FULL;  // lanes below 100: / 10
  const std::uint64_t digits = tens | ((twos - tens * 10) << 8);
  const std::uint64_t text = digits + 0x3030303030303030ULL;  // the first digit in the lowest byte
  std::memcpy(to, &text, 8);
  return digits;
}

// Unix times of this era, 1e9 <= value < 1e10, have ten integer digits and
// seven decimals at 17 significant digits. The seven decimals are the exact
// binary fraction scaled by 10^7 and rounded half to even, as printf and
// to_chars round; this is computed in integers, which spares the general
// formatter (a drain writes two such times per record, a scan two per
// file). The rounding and the cut of trailing zeros take no branch: their
// outcome is as good as random from one time to the next, and mispredicted
// branches cost a quarter of the time. Null when value is not such a time
// or rounds up to 1e10.
char* write_unix_time(char* to, double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const int shift = 1075 - static_cast<int>((bits >> 52) & 0x7FF);  // value = mantissa / 2^shift
  const std::uint64_t mantissa = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
  const std::uint64_t mask = (std::uint64_t{1} << shift) - 1;
  std::uint64_t whole = mantissa >> shift;
  const std::uint64_t scaled = (mantissa & mask) * 10000000;
  std::uint64_t decimals = scaled >> shift;
  const std::uint64_t rest = scaled & mask;
  const std::uint64_t half = std::uint64_t{1} << (shift - 1);
  decimals += static_cast<std::uint64_t>((rest > half) | ((rest == half) & ((decimals & 1) != 0)));
  if (decimals == 10000000) {
    decimals = 0;
    ++whole;
  }
  if (whole >= 10000000000ULL) return nullptr;
  const auto leading = static_cast<std::uint32_t>(whole / 100000000);  // 10 to 99
  to[0] = static_cast<char>('0' + leading / 10);
  to[1] = static_cast<char>('0' + leading % 10);
  write_eight_digits(to + 2, static_cast<std::uint32_t>(whole % 100000000));
  to += 10;
  if (decimals == 0) return to;
  *to++ = '.';
  // Seven decimals and a zero after them; the trailing zeros are the zero
  // bytes at the top of the digits' word (there is a digit other than zero).
  const std::uint64_t digits = write_eight_digits(to, static_cast<std::uint32_t>(decimals * 10));
  return to + 8 - __builtin_clzll(digits) / 8;
}

}  // namespace

char* write_g17(char* to, double value) {
  if (value >= 1e9 && value < 1e10) {
    if (char* end = write_unix_time(to, value)) return end;
  }
  return write_general(to, value, 17);
}

void append_g17(std::string& out, double value) {
  char buffer[g17_max_chars];
  out.append(buffer, write_g17(buffer, value));
}

void append_g6(std::string& out, double value) { append_general(out, value, 6); }

}  // namespace mirrow
