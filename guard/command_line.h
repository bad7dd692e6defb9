#pragma once
// The guard's command line: which form it was started in, and the five
// arguments of the normal form read the way the C library's wide-string to
// unsigned conversions read them.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace mirrow::guard {

enum class GuardForm {
  fixture,         // the single argument "--fixture"
  self_test,       // the single argument "--self-test"
  recover,         // five arguments, the first exactly "--recover"
  normal,          // exactly five arguments otherwise
  wrong_count,     // anything else
};

// Only an exact, case-sensitive single argument selects a special form, and
// only an exact "--recover" before four more the recovery form.
GuardForm guard_form(std::span<const std::u16string> arguments);

// The five arguments of the normal form. The numbers are only read here;
// whether they are acceptable is decided against the process table.
struct GuardArguments {
  std::uint32_t pid = 0;
  std::uint64_t creation_ticks = 0;
  std::uint32_t lease_seconds = 0;
  std::u16string image_path;
  std::u16string journal_path;  // empty: no journal
};

// Expects guard_form(arguments) == GuardForm::normal.
GuardArguments parse_guard_arguments(std::span<const std::u16string> arguments);

// The lease must be 1 to 600 seconds.
bool lease_is_valid(std::uint32_t lease_seconds);

// wcstoul / wcstoull semantics for base 10: leading white space skipped, an
// optional sign (a minus negates modulo the width), digits up to the first
// non-digit, a magnitude beyond the width reads as the width's maximum, and
// text without digits reads as 0.
std::uint32_t read_decimal_u32(std::u16string_view text);
std::uint64_t read_decimal_u64(std::u16string_view text);

}  // namespace mirrow::guard
