#include "common/number_format.h"

#include <algorithm>
#include <charconv>
#include <cmath>

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

void append_g17(std::string& out, double value) { append_general(out, value, 17); }

char* write_u64(char* to, std::uint64_t value) { return std::to_chars(to, to + 20, value).ptr; }

char* write_i64(char* to, std::int64_t value) { return std::to_chars(to, to + 20, value).ptr; }

char* write_g17(char* to, double value) { return write_general(to, value, 17); }

void append_g6(std::string& out, double value) { append_general(out, value, 6); }

}  // namespace mirrow
