#include "engine/capture/xpress_lz77.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/lz77_encoder.h"

namespace mirrow {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::encode_plain_lz77;
using testing::PlainLz77Writer;

std::optional<Bytes> decode(const Bytes& input, std::size_t capacity) {
  Bytes out(capacity);
  const auto written = decompress_plain_lz77(input, out);
  if (!written) return std::nullopt;
  out.resize(*written);
  return out;
}

Bytes text(std::string_view s) { return Bytes(s.begin(), s.end()); }

TEST(PlainLz77, literals_and_a_match_that_overlaps_what_it_writes) {
  // Three literals, then nine bytes from three back; the flag bits left
  // over are ones, and a match flag at the end of the input ends it.
  const Bytes input = {0xFF, 0xFF, 0xFF, 0x1F, 'a', 'b', 'c', (2 << 3) | 6, 0x00};
  EXPECT_EQ(decode(input, 64), text("abcabcabcabc"));
  EXPECT_EQ(decode({}, 8), Bytes());
}

TEST(PlainLz77, every_length_form_comes_back_as_it_was_encoded) {
  // 10 and 20 share one nibble byte; 40 takes a byte, 300 sixteen bits and
  // 70000 thirty-two.
  for (const std::uint32_t length : {3u, 9u, 10u, 20u, 24u, 25u, 40u, 276u, 277u, 300u, 65538u, 70000u}) {
    Bytes out;
    PlainLz77Writer writer(out);
    writer.literal('x');
    writer.literal('y');
    writer.match(2, length);
    writer.match(1, 10);
    writer.match(2, 20);
    writer.finish();
    std::string expected = "xy";
    while (expected.size() < 2 + length) expected += expected.size() % 2 == 0 ? 'x' : 'y';
    expected += std::string(10, expected.back());
    for (int i = 0; i < 20; ++i) expected += expected[expected.size() - 2];
    EXPECT_EQ(decode(out, expected.size()), text(expected)) << length;
  }
}

TEST(PlainLz77, random_and_repetitive_data_round_trip) {
  std::mt19937 random(7);
  for (int round = 0; round < 50; ++round) {
    Bytes data(random() % 20000);
    const unsigned alphabet = 1 + random() % 255;
    for (auto& byte : data) byte = static_cast<std::uint8_t>(random() % alphabet);
    EXPECT_EQ(decode(encode_plain_lz77(data), data.size()), data);
    EXPECT_EQ(decode(encode_plain_lz77(data, true), data.size()), data);
  }
  const Bytes zeros(100000, 0);
  EXPECT_EQ(decode(encode_plain_lz77(zeros), zeros.size()), zeros);
}

TEST(PlainLz77, output_beyond_its_buffer_a_match_before_the_start_or_a_cut_length_fails) {
  const Bytes data = text("abcabcabcabcabcabcabcabc");
  const Bytes packed = encode_plain_lz77(data);
  EXPECT_FALSE(decode(packed, data.size() - 1));
  EXPECT_FALSE(decode({0xFF, 0xFF, 0xFF, 0x7F, 'a', (4 << 3), 0x00}, 64));  // five back, one written
  EXPECT_FALSE(decode({0xFF, 0xFF, 0xFF, 0x7F, 'a', 0x07}, 64));            // match bytes cut
  EXPECT_FALSE(decode({0xFF, 0xFF, 0xFF, 0x7F, 'a', 0x07, 0x00}, 64));      // no nibble byte
  EXPECT_FALSE(decode({0xFF, 0xFF, 0xFF, 0x7F, 'a', 0x07, 0x00, 0x0F}, 64));  // no length byte
  EXPECT_FALSE(decode({0xFF, 0xFF, 0xFF, 0x7F, 'a', 0x07, 0x00, 0x0F, 0xFF, 0x01}, 64));  // 16 bits cut
  EXPECT_FALSE(decode({0xFF, 0xFF, 0xFF, 0x7F, 'a', 0x07, 0x00, 0x0F, 0xFF, 0x05, 0x00}, 64));  // below 22
  EXPECT_FALSE(decode({0x00, 0x00}, 64));  // a flags word cut
}

// The 32-bit length form holds the match length less three: near its top the
// full length no longer fits in 32 bits, and a length that wrapped around to
// a few bytes would copy them and go on as if the block were sound.
TEST(PlainLz77, a_32_bit_length_too_long_for_any_output_fails_instead_of_wrapping) {
  for (const std::uint32_t stored : {0xFFFFFFFDu, 0xFFFFFFFEu, 0xFFFFFFFFu}) {
    Bytes input = {0xFF, 0xFF, 0xFF, 0x7F, 'a', 0x07, 0x00, 0x0F, 0xFF, 0x00, 0x00};
    for (int shift = 0; shift < 32; shift += 8) input.push_back(static_cast<std::uint8_t>(stored >> shift));
    EXPECT_FALSE(decode(input, 64)) << stored;
  }
}

}  // namespace
}  // namespace mirrow
