#include "guard/command_line.h"

#include <limits>

namespace mirrow::guard {
namespace {

bool is_c_space(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

bool is_digit(char16_t c) { return c >= u'0' && c <= u'9'; }

std::uint64_t read_decimal(std::u16string_view text, std::uint64_t max_value) {
  std::size_t i = 0;
  while (i < text.size() && is_c_space(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  std::uint64_t value = 0;
  bool overflow = false;
  for (; i < text.size() && is_digit(text[i]); ++i) {
    const std::uint64_t digit = static_cast<std::uint64_t>(text[i] - u'0');
    if (value > (max_value - digit) / 10) overflow = true;
    if (!overflow) value = value * 10 + digit;
  }
  if (overflow) return max_value;
  // Negation modulo the width: max_value + 1 is the width's modulus.
  return negative ? (max_value - value + 1) & max_value : value;
}

}  // namespace

GuardForm guard_form(std::span<const std::u16string> arguments) {
  if (arguments.size() == 1 && arguments[0] == u"--fixture") return GuardForm::fixture;
  if (arguments.size() == 1 && arguments[0] == u"--self-test") return GuardForm::self_test;
  if (arguments.size() == 5 && arguments[0] == u"--recover") return GuardForm::recover;
  if (arguments.size() == 5) return GuardForm::normal;
  return GuardForm::wrong_count;
}

GuardArguments parse_guard_arguments(std::span<const std::u16string> arguments) {
  GuardArguments parsed;
  parsed.pid = read_decimal_u32(arguments[0]);
  parsed.creation_ticks = read_decimal_u64(arguments[1]);
  parsed.lease_seconds = read_decimal_u32(arguments[2]);
  parsed.image_path = arguments[3];
  parsed.journal_path = arguments[4];
  return parsed;
}

bool lease_is_valid(std::uint32_t lease_seconds) {
  // Unsigned wrap-around turns 0 into the largest value, so one comparison
  // rejects both ends.
  return lease_seconds - 1u <= 599u;
}

std::uint32_t read_decimal_u32(std::u16string_view text) {
  return static_cast<std::uint32_t>(read_decimal(text, std::numeric_limits<std::uint32_t>::max()));
}

std::uint64_t read_decimal_u64(std::u16string_view text) {
  return read_decimal(text, std::numeric_limits<std::uint64_t>::max());
}

}  // namespace mirrow::guard
