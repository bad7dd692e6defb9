#include "common/number_format.h"

#include <charconv>
#include <cmath>

namespace mirrow {
namespace {

void append_general(std::string& out, double value, int precision) {
  if (std::isnan(value)) { out += "nan"; return; }
  if (std::isinf(value)) { out += value < 0 ? "-inf" : "inf"; return; }
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, precision);
  out.append(buffer, result.ptr);
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

void append_g6(std::string& out, double value) { append_general(out, value, 6); }

}  // namespace mirrow
