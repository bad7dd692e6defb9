#include "host/json_value.h"

#include <gtest/gtest.h>

#include <string>

namespace mirrow::host {
namespace {

TEST(JsonValue, members_keep_their_order_and_missing_ones_read_as_null) {
  const auto value = parse_json(R"({"b":1,"a":[true,null,"x"]})");
  ASSERT_TRUE(value);
  ASSERT_EQ(value->members.size(), 2u);
  EXPECT_EQ(value->members[0].first, "b");
  EXPECT_TRUE((*value)["a"][0].boolean);
  EXPECT_TRUE((*value)["a"][1].is_null());
  EXPECT_EQ((*value)["a"][2].as_text(), u"x");
  EXPECT_TRUE((*value)["missing"]["deeper"][7].is_null());
}

TEST(JsonValue, escapes_decode_to_utf16_units_with_surrogate_halves_kept_apart) {
  const auto value = parse_json(R"("c:\\a\"b\u00e9\ud83d\ude00\u0009")");
  ASSERT_TRUE(value);
  EXPECT_EQ(value->as_text(), u"c:\\a\"b\u00e9\U0001F600\t");
}

TEST(JsonValue, quoted_and_bare_whole_numbers_both_read_as_unsigned) {
  const auto value = parse_json(R"({"created":"133790000000000000","pid":4242,"neg":-5,"frac":1.5})");
  ASSERT_TRUE(value);
  EXPECT_EQ((*value)["created"].as_u64(), 133790000000000000ull);
  EXPECT_EQ((*value)["pid"].as_u64(), 4242u);
  EXPECT_FALSE((*value)["neg"].as_u64());
  EXPECT_EQ((*value)["neg"].as_i64(), -5);
  EXPECT_FALSE((*value)["frac"].as_u64());
  EXPECT_DOUBLE_EQ(*(*value)["frac"].as_double(), 1.5);
  EXPECT_FALSE(parse_json("18446744073709551616")->as_u64());
}

TEST(JsonValue, times_with_seventeen_digits_and_exponents_read_exactly) {
  EXPECT_DOUBLE_EQ(*parse_json("1764979200.5")->as_double(), 1764979200.5);
  EXPECT_DOUBLE_EQ(*parse_json("-11644473600")->as_double(), -11644473600.0);
  EXPECT_DOUBLE_EQ(*parse_json("1e+300")->as_double(), 1e300);
}

TEST(JsonValue, white_space_and_a_trailing_line_feed_are_tolerated) {
  const auto value = parse_json(" { \"a\" : [ 1 , 2 ] }\r\n");
  ASSERT_TRUE(value);
  EXPECT_EQ((*value)["a"].items.size(), 2u);
}

TEST(JsonValue, broken_texts_are_refused_without_harm) {
  for (const char* text : {"", "{", "[1,", "{\"a\"}", "\"abc", "\"\\u12\"", "\"\\q\"", "[1]x", "{\"a\":1,}", "nul"})
    EXPECT_FALSE(parse_json(text)) << text;
}

TEST(JsonValue, nesting_beyond_the_depth_bound_is_refused_instead_of_exhausting_the_stack) {
  EXPECT_TRUE(parse_json(std::string(60, '[') + std::string(60, ']')));
  EXPECT_FALSE(parse_json(std::string(100000, '[') + std::string(100000, ']')));
}

}  // namespace
}  // namespace mirrow::host
