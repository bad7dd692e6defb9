#pragma once
// Clocks: the millisecond tick count since boot for intervals and deadlines,
// and the current time as Unix-epoch seconds.
#include <cstdint>

namespace mirrow {

std::uint64_t tick_ms();
double now_unix_seconds();

// Milliseconds from earlier to now, 0 when earlier is the later of the two.
// A tick count taken on one thread may be a tick past one taken a moment
// before on another, and a plain difference would then wrap to an age of
// millions of years.
constexpr std::uint64_t ms_since(std::uint64_t earlier, std::uint64_t now) noexcept {
  return now > earlier ? now - earlier : 0;
}

}  // namespace mirrow
