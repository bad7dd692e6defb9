#include "engine/capture/xpress_lz77.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace mirrow {
namespace {

// Reads and bounds-checks the input; every read past the end fails the
// whole decoding instead of inventing bytes.
class Input {
 public:
  explicit Input(std::span<const std::uint8_t> bytes) : data_(bytes.data()), size_(bytes.size()) {}

  bool at_end() const { return at_ == size_; }
  std::size_t left() const { return size_ - at_; }
  std::size_t position() const { return at_; }
  const std::uint8_t* here() const { return data_ + at_; }
  void skip(std::size_t n) { at_ += n; }

  bool u8(std::uint32_t& value) {
    if (left() < 1) return false;
    value = data_[at_++];
    return true;
  }
  bool u16(std::uint32_t& value) {
    if (left() < 2) return false;
    value = static_cast<std::uint32_t>(data_[at_]) | static_cast<std::uint32_t>(data_[at_ + 1]) << 8;
    at_ += 2;
    return true;
  }
  bool u32(std::uint32_t& value) {
    if (left() < 4) return false;
    std::memcpy(&value, data_ + at_, 4);  // the format is little-endian, as is every target here
    at_ += 4;
    return true;
  }
  std::uint8_t byte_at(std::size_t position) const { return data_[position]; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// A match's length beyond its three-bit field: the nibble that two matches
// share, then a byte, then a 16-bit and finally a 32-bit field, each used
// only when the one before it is saturated.
bool read_long_length(Input& in, std::size_t& shared_nibble_at, std::uint32_t& length) {
  if (shared_nibble_at == 0) {
    if (!in.u8(length)) return false;
    length &= 0x0F;
    shared_nibble_at = in.position();  // one past the byte; 0 stays free for "no byte"
  } else {
    length = in.byte_at(shared_nibble_at - 1) >> 4;
    shared_nibble_at = 0;
  }
  if (length == 15) {
    if (!in.u8(length)) return false;
    if (length == 255) {
      if (!in.u16(length)) return false;
      if (length == 0 && !in.u32(length)) return false;
      if (length < 15 + 7) return false;
      length -= 15 + 7;
    }
    length += 15;
  }
  length += 7;
  return true;
}

// Copies a match. Where the output has room for the overrun and the match
// reaches back at least eight bytes, eight bytes at a time (each chunk reads
// only what earlier chunks or the output before it hold); a shorter offset
// repeats a pattern byte by byte.
void copy_match(std::uint8_t* out, std::size_t at, std::size_t capacity, std::size_t offset, std::size_t length) {
  std::uint8_t* to = out + at;
  const std::uint8_t* from = to - offset;
  if (offset >= 8 && capacity - at >= length + 8) {
    for (std::size_t i = 0; i < length; i += 8) std::memcpy(to + i, from + i, 8);
    return;
  }
  if (offset >= length) {
    std::memcpy(to, from, length);
    return;
  }
  for (std::size_t i = 0; i < length; ++i) to[i] = from[i];
}

}  // namespace

std::optional<std::size_t> decompress_plain_lz77(std::span<const std::uint8_t> input,
                                                 std::span<std::uint8_t> output) noexcept {
  Input in(input);
  std::uint8_t* const out = output.data();
  const std::size_t capacity = output.size();
  std::size_t written = 0;
  std::size_t shared_nibble_at = 0;
  for (;;) {
    std::uint32_t flags = 0;
    if (in.at_end()) return written;
    if (!in.u32(flags)) return std::nullopt;
    // Thirty-two literals in a row: one copy.
    if (flags == 0 && in.left() >= 32 && capacity - written >= 32) {
      std::memcpy(out + written, in.here(), 32);
      in.skip(32);
      written += 32;
      continue;
    }
    for (int bit = 31; bit >= 0;) {
      // A run of literals: as many clear flag bits as follow from here.
      const std::uint32_t ahead = flags << (31 - bit);
      const int run = std::min(ahead == 0 ? 32 : std::countl_zero(ahead), bit + 1);
      if (run > 0) {
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(run), in.left());
        if (n > capacity - written) return std::nullopt;
        if (n > 0) std::memcpy(out + written, in.here(), n);  // an empty output may have no storage
        in.skip(n);
        written += n;
        if (n < static_cast<std::size_t>(run)) return written;  // the input ends among literals
        bit -= run;
        continue;
      }
      --bit;
      if (in.at_end()) return written;
      std::uint32_t match = 0;
      if (!in.u16(match)) return std::nullopt;
      const std::size_t offset = (match >> 3) + 1;
      std::uint32_t stored = match & 7;
      if (stored == 7 && !read_long_length(in, shared_nibble_at, stored)) return std::nullopt;
      // The field holds the length less three: near the top of the 32-bit
      // form the whole length needs more than 32 bits, and a wrapped one
      // would misdecode the block instead of refusing it.
      const std::uint64_t length = std::uint64_t{stored} + 3;
      if (offset > written || length > capacity - written) return std::nullopt;
      copy_match(out, written, capacity, offset, static_cast<std::size_t>(length));
      written += static_cast<std::size_t>(length);
    }
  }
}

}  // namespace mirrow
