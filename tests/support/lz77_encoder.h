#pragma once
// A plain, greedy encoder of the Xpress plain LZ77 format, for tests and
// fuzz seeds: it writes every length form the format has (three bits, a
// shared nibble, a byte, 16 and 32 bits), so that what it makes exercises
// the whole decoder. Not fast; not for products.
#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace mirrow::testing {

class PlainLz77Writer {
 public:
  explicit PlainLz77Writer(std::vector<std::uint8_t>& out) : out_(out) { reserve_flags(); }

  void literal(std::uint8_t byte) {
    out_.push_back(byte);
    flag(0);
  }

  // A match `length` bytes long (at least 3) reaching `offset` back (1 to 8192).
  void match(std::uint32_t offset, std::uint32_t length) {
    std::uint32_t rest = length - 3;
    const std::uint32_t low = rest < 7 ? rest : 7;
    put16(static_cast<std::uint16_t>((offset - 1) << 3 | low));
    if (rest >= 7) {
      rest -= 7;
      if (rest < 15) {
        nibble(rest);
      } else {
        nibble(15);
        rest -= 15;
        if (rest < 255) {
          out_.push_back(static_cast<std::uint8_t>(rest));
        } else {
          out_.push_back(255);
          const std::uint32_t whole = length - 3;
          if (whole < 65536) {
            put16(static_cast<std::uint16_t>(whole));
          } else {
            put16(0);
            put32(whole);
          }
        }
      }
    }
    flag(1);
  }

  // Fills the last flags word with ones: a decoder that meets a match flag
  // at the end of the input is done.
  void finish() {
    const std::uint32_t pending = count_ == 0 ? 0xFFFFFFFFu : flags_ << (32 - count_) | ((1u << (32 - count_)) - 1);
    std::memcpy(&out_[flags_at_], &pending, 4);
  }

 private:
  void reserve_flags() {
    flags_at_ = out_.size();
    out_.resize(out_.size() + 4);
    flags_ = 0;
    count_ = 0;
  }
  void flag(std::uint32_t bit) {
    flags_ = flags_ << 1 | bit;
    if (++count_ == 32) {
      std::memcpy(&out_[flags_at_], &flags_, 4);
      reserve_flags();
    }
  }
  void nibble(std::uint32_t value) {
    if (nibble_at_ == 0) {
      nibble_at_ = out_.size() + 1;
      out_.push_back(static_cast<std::uint8_t>(value));
    } else {
      out_[nibble_at_ - 1] = static_cast<std::uint8_t>(out_[nibble_at_ - 1] | value << 4);
      nibble_at_ = 0;
    }
  }
  void put16(std::uint16_t v) {
    out_.push_back(static_cast<std::uint8_t>(v));
    out_.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  void put32(std::uint32_t v) {
    put16(static_cast<std::uint16_t>(v));
    put16(static_cast<std::uint16_t>(v >> 16));
  }

  std::vector<std::uint8_t>& out_;
  std::size_t flags_at_ = 0;
  std::uint32_t flags_ = 0;
  std::uint32_t count_ = 0;
  std::size_t nibble_at_ = 0;  // one past the byte whose high nibble is free; 0 for none
};

// Greedy matching over a table of the last place of each three-byte prefix.
inline std::vector<std::uint8_t> encode_plain_lz77(std::span<const std::uint8_t> data, bool literals_only = false) {
  std::vector<std::uint8_t> out;
  PlainLz77Writer writer(out);
  std::vector<std::int64_t> last(1 << 12, -1);
  const auto hash = [&](std::size_t at) {
    return (static_cast<std::uint32_t>(data[at]) * 2654435761u ^ data[at + 1] * 40503u ^ data[at + 2]) & 0xFFF;
  };
  std::size_t at = 0;
  while (at < data.size()) {
    std::uint32_t length = 0, offset = 0;
    if (!literals_only && data.size() - at >= 3) {
      const std::uint32_t h = hash(at);
      const std::int64_t candidate = last[h];
      last[h] = static_cast<std::int64_t>(at);
      if (candidate >= 0 && at - static_cast<std::size_t>(candidate) <= 8192) {
        const std::size_t from = static_cast<std::size_t>(candidate);
        while (at + length < data.size() && data[from + length] == data[at + length]) ++length;
        offset = static_cast<std::uint32_t>(at - from);
      }
    }
    if (length >= 3) {
      writer.match(offset, length);
      at += length;
    } else {
      writer.literal(data[at++]);
    }
  }
  writer.finish();
  return out;
}

}  // namespace mirrow::testing
