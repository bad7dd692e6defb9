#include "common/json_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

namespace mirrow {
namespace {

std::string quoted(std::u16string_view s) {
  std::string out;
  json_quote(out, s);
  return out;
}

TEST(JsonQuote, appends_after_what_is_there_and_takes_exactly_its_length) {
  std::string out = "[1,";
  json_quote(out, u"a\"\u00e9");
  EXPECT_EQ(out, "[1,\"a\\\"\\u00e9\"");
}

TEST(JsonQuote, written_into_a_buffer_of_six_bytes_a_unit_it_is_the_same_text) {
  const std::u16string worst(40, u'\u2603');
  std::string buffer(6 * worst.size() + 2, '\0');
  char* end = write_json_quoted(buffer.data(), worst);
  EXPECT_EQ(static_cast<std::size_t>(end - buffer.data()), buffer.size());
  EXPECT_EQ(std::string(buffer.data(), end), quoted(std::u16string_view(worst)));
}

TEST(JsonQuote, printable_ascii_passes_through_and_quote_and_backslash_are_escaped) {
  EXPECT_EQ(quoted(u"plain text"), "\"plain text\"");
  EXPECT_EQ(quoted(u"c:\\data\\\"x\""), "\"c:\\\\data\\\\\\\"x\\\"\"");
  EXPECT_EQ(quoted(u""), "\"\"");
}

TEST(JsonQuote, control_units_and_everything_above_tilde_become_lower_case_u_escapes) {
  EXPECT_EQ(quoted(u"\t\n\x1f"), "\"\\u0009\\u000a\\u001f\"");
  EXPECT_EQ(quoted(u"\x7f~"), "\"\\u007f~\"");
  EXPECT_EQ(quoted(u"\u00fcn\u00ef"), "\"\\u00fcn\\u00ef\"");
  EXPECT_EQ(quoted(u"\u041d\u0435\u0442"), "\"\\u041d\\u0435\\u0442\"");
}

TEST(JsonQuote, surrogate_halves_are_written_separately_even_when_unpaired) {
  EXPECT_EQ(quoted(u"\U0001F600"), "\"\\ud83d\\ude00\"");
  const char16_t lone[] = {0xDC00, u'a', 0xD800, 0};
  EXPECT_EQ(quoted(lone), "\"\\udc00a\\ud800\"");
}

TEST(JsonQuote, utf8_input_is_decoded_first) {
  std::string out;
  json_quote_utf8(out, "\xd0\x9d\xd0\xb5\xd1\x82");
  EXPECT_EQ(out, "\"\\u041d\\u0435\\u0442\"");
  out.clear();
  json_quote_utf8(out, "a\xff");
  EXPECT_EQ(out, "\"a\\ufffd\"");
}

// The rules, one unit at a time, for comparison with the block-wise writer.
std::string quoted_unit_by_unit(std::u16string_view s) {
  std::string out = "\"";
  for (char16_t unit : s) {
    if (unit == u'"' || unit == u'\\') {
      out += '\\';
      out += static_cast<char>(unit);
    } else if (unit < 0x20 || unit > 0x7E) {
      char escape[7];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(unit));
      out += escape;
    } else {
      out += static_cast<char>(unit);
    }
  }
  return out + "\"";
}

TEST(JsonQuote, special_units_at_every_place_of_a_block_come_out_as_unit_by_unit) {
  // Mostly plain text with a special unit now and then, at every offset and
  // length, so that each place of an eight-unit block and each short tail is met.
  const char16_t specials[] = {u'\\', u'"', 0x1F, 0x7F, 0x00E9, 0xD83D, 0x8000, 0xFFFF, 0};
  std::mt19937 random(7);
  for (int round = 0; round < 20000; ++round) {
    std::u16string text(random() % 40, u'a');
    for (char16_t& unit : text) {
      unit = random() % 6 == 0 ? specials[random() % 9] : static_cast<char16_t>(0x20 + random() % 95);
    }
    ASSERT_EQ(quoted(std::u16string_view(text)), quoted_unit_by_unit(text)) << "round " << round;
  }
}

}  // namespace
}  // namespace mirrow
