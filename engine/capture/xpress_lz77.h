#pragma once
// The plain LZ77 format of the Xpress family, in which a trace file that was
// written compressed stores each of its buffers.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace mirrow {

// Decodes `input` into `output` and returns the bytes written. Nothing when
// the input is malformed: a match that reaches back before the start, a
// length field cut off by the end of the input, or output that would not fit
// into `output`. Never reads or writes outside the two spans.
std::optional<std::size_t> decompress_plain_lz77(std::span<const std::uint8_t> input,
                                                 std::span<std::uint8_t> output) noexcept;

}  // namespace mirrow
