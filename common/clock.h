#pragma once
// Clocks: the millisecond tick count since boot for intervals and deadlines,
// and the current time as Unix-epoch seconds.
#include <cstdint>

namespace mirrow {

std::uint64_t tick_ms();
double now_unix_seconds();

}  // namespace mirrow
