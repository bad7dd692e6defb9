#pragma once
// The result codes the engine's calls return: Windows error numbers, as the
// public header documents them.
#include <cstdint>

namespace mirrow {

constexpr std::uint32_t result_ok = 0;
constexpr std::uint32_t result_out_of_memory = 8;
constexpr std::uint32_t result_invalid = 87;
constexpr std::uint32_t result_timeout = 110;
constexpr std::uint32_t result_already_running = 183;

}  // namespace mirrow
