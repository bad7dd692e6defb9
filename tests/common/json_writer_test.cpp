#include "common/json_writer.h"

#include <gtest/gtest.h>

#include <string>

namespace mirrow {
namespace {

TEST(JsonWriter, puts_a_comma_before_every_member_and_item_but_the_first) {
  std::string out;
  JsonWriter(out).begin_object().key("a").u64(1).key("b").begin_array().u64(2).i64(-3).end_array().key("c").null()
      .end_object();
  EXPECT_EQ(out, R"({"a":1,"b":[2,-3],"c":null})");
}

TEST(JsonWriter, empty_containers_and_nested_ones_get_no_stray_commas) {
  std::string out;
  JsonWriter(out).begin_array().begin_object().end_object().begin_array().end_array().begin_object().key("x")
      .begin_array().end_array().end_object().end_array();
  EXPECT_EQ(out, R"([{},[],{"x":[]}])");
}

TEST(JsonWriter, writes_each_value_kind_in_the_shared_formats) {
  std::string out;
  JsonWriter(out)
      .begin_array()
      .quoted_u64(18446744073709551615ull)
      .g17(0.1)
      .g6(12.5)
      .boolean(true)
      .boolean(false)
      .flag(true)
      .flag(false)
      .text(u"c:\\a\"b\u00e9")
      .word("resumed")
      .optional_u64(7)
      .optional_u64(std::nullopt)
      .end_array();
  EXPECT_EQ(out, R"(["18446744073709551615",0.10000000000000001,12.5,true,false,1,0,"c:\\a\"b\u00e9","resumed",7,null])");
}

TEST(JsonWriter, goes_on_inside_a_container_an_earlier_writer_opened) {
  std::string out = "[";
  JsonWriter(out, false).u64(1);
  JsonWriter(out, true).begin_array().u64(2).end_array();
  out += ']';
  EXPECT_EQ(out, "[1,[2]]");
}

TEST(JsonWriter, appends_to_what_the_text_already_holds) {
  std::string out = "prefix ";
  JsonWriter(out).begin_object().key("k").text(u"v").end_object();
  EXPECT_EQ(out, R"(prefix {"k":"v"})");
}

}  // namespace
}  // namespace mirrow
