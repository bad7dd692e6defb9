#include "inspector/result_text.h"

#include <gtest/gtest.h>

#include <new>
#include <thread>

namespace mirrow::inspector {
namespace {

TEST(PublishReport, the_text_lands_in_the_thread_s_buffer_with_its_length) {
  std::uint64_t length = 99;
  const char* text = publish_report(&length, [](std::string& out) { out = "{\"a\":1}"; });
  EXPECT_STREQ(text, "{\"a\":1}");
  EXPECT_EQ(length, 7u);
  EXPECT_EQ(text, result_text().c_str());
}

TEST(PublishReport, an_exception_gives_null_and_length_zero) {
  std::uint64_t length = 99;
  EXPECT_EQ(publish_report(&length, [](std::string&) { throw std::bad_alloc(); }), nullptr);
  EXPECT_EQ(length, 0u);
}

TEST(PublishReport, a_null_length_pointer_is_tolerated) {
  EXPECT_STREQ(publish_report(nullptr, [](std::string& out) { out = "[]"; }), "[]");
  EXPECT_EQ(publish_report(nullptr, [](std::string&) { throw 1; }), nullptr);
}

TEST(PublishReport, each_thread_keeps_its_own_text_until_its_own_next_call) {
  const char* mine = publish_report(nullptr, [](std::string& out) { out = "main"; });
  std::string seen_by_other;
  std::thread other([&] {
    const char* theirs = publish_report(nullptr, [](std::string& out) { out = "other"; });
    seen_by_other = theirs;
  });
  other.join();
  EXPECT_STREQ(mine, "main");
  EXPECT_EQ(seen_by_other, "other");
}

}  // namespace
}  // namespace mirrow::inspector
