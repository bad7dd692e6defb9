#include "common/thread_texts.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace mirrow {
namespace {

TEST(ThreadTexts, each_thread_keeps_its_own_text_until_it_is_forgotten) {
  this_thread_text() = "main";
  std::string seen_by_other;
  std::thread other([&] {
    seen_by_other = this_thread_text_or_empty();
    this_thread_text() = "other";
    clear_this_thread_text();
    seen_by_other += "|" + std::string(this_thread_text_or_empty()) + "|";
    this_thread_text() = "other again";
    seen_by_other += this_thread_text_or_empty();
    forget_this_thread_text();
  });
  other.join();
  EXPECT_EQ(seen_by_other, "||other again");
  EXPECT_STREQ(this_thread_text_or_empty(), "main");
  forget_this_thread_text();
  EXPECT_STREQ(this_thread_text_or_empty(), "");
  clear_this_thread_text();  // nothing to clear, nothing created
  EXPECT_STREQ(this_thread_text_or_empty(), "");
}

}  // namespace
}  // namespace mirrow
