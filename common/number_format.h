#pragma once
// The one number formatter: locale-independent decimal text for machine output.
#include <cstddef>
#include <cstdint>
#include <string>

namespace mirrow {

void append_u64(std::string& out, std::uint64_t value);
void append_i64(std::string& out, std::int64_t value);

// 17 significant digits in printf's %g style: fixed notation for decimal
// exponents from -4 to 16, else exponent notation (1e+300); trailing zeros
// and a bare decimal point dropped. Used for every engine and scanner time.
void append_g17(std::string& out, double value);

// The same texts written straight into a buffer, for output built in bulk:
// each returns the end of what it wrote. Room needed: 20 units for
// write_u64, 20 for write_i64, g17_max_chars for write_g17.
constexpr std::size_t g17_max_chars = 32;
char* write_u64(char* to, std::uint64_t value);
char* write_i64(char* to, std::int64_t value);
char* write_g17(char* to, double value);

// Six significant digits in printf's %g style (the CPU load: 33.3333, 100).
void append_g6(std::string& out, double value);

}  // namespace mirrow
