// The last verdict rule: the walk up the parent links, which accepts only a
// chain of real parents confirmed up to a root and refuses anything started,
// directly or not, from a user-facing application.
#include <gtest/gtest.h>

#include "classifier/verdict.h"
#include "tests/classifier/facts_builder.h"

namespace mirrow {
namespace {

using test::add;
using test::confirmed;

constexpr std::uint32_t kAnchor = 900;

class LaunchChain : public ::testing::Test {
 protected:
  std::u16string verdict_of(std::uint32_t pid) {
    return protection_reason(table.at(pid), table, kAnchor, test::environment());
  }

  // Adds the chain 50 <- 51 <- ... <- 50+ancestors (each one tick older than
  // its child) and returns the youngest member's pid.
  std::uint32_t add_chain(int ancestors, std::uint32_t last_parent) {
    const std::uint32_t youngest = 50;
    for (int i = 0; i <= ancestors; ++i) {
      const std::uint32_t pid = youngest + static_cast<std::uint32_t>(i);
      const std::uint32_t parent = i < ancestors ? pid + 1 : last_parent;
      add(table, confirmed(pid, parent, 10000 - static_cast<std::uint64_t>(i)));
    }
    return youngest;
  }

  ProcessTable table;
};

TEST_F(LaunchChain, a_process_whose_parent_id_is_zero_is_a_root_and_may_be_frozen) {
  add(table, confirmed(50, 0, 200));
  EXPECT_EQ(verdict_of(50), u"");
}

TEST_F(LaunchChain, a_process_started_by_explorer_in_any_letter_case_was_started_by_the_user) {
  for (const std::u16string name : {u"explorer.exe", u"EXPLORER.EXE", u"Explorer.Exe"}) {
    add(table, confirmed(10, 0, 100, name));
    add(table, confirmed(50, 10, 200));
    EXPECT_EQ(verdict_of(50), u"Косвенно запущен пользователем");
  }
}

TEST_F(LaunchChain, a_known_grandparent_behind_a_true_parent_was_started_by_the_user) {
  add(table, confirmed(10, 0, 100, u"steam.exe"));
  add(table, confirmed(20, 10, 150, u"launcher_helper.exe"));
  add(table, confirmed(50, 20, 200));
  EXPECT_EQ(verdict_of(50), u"Косвенно запущен пользователем");
}

TEST_F(LaunchChain, a_known_application_is_reached_only_through_parents_that_pass_their_checks) {
  add(table, confirmed(10, 0, 100, u"chrome.exe"));
  add(table, confirmed(20, 10, 250, u"launcher_helper.exe"));  // younger than its child
  add(table, confirmed(50, 20, 200));
  EXPECT_EQ(verdict_of(50), u"Цепочка запуска неполна / PID переиспользован");
}

TEST_F(LaunchChain, a_known_name_on_the_process_itself_is_not_a_launching_application) {
  add(table, confirmed(10, 0, 100, u"services.exe"));
  add(table, confirmed(50, 10, 200, u"chrome.exe"));
  EXPECT_EQ(verdict_of(50), u"");
}

TEST_F(LaunchChain, an_exited_parent_leaves_the_chain_incomplete) {
  add(table, confirmed(50, 10, 200));
  EXPECT_EQ(verdict_of(50), u"Цепочка запуска неполна / PID переиспользован");
}

TEST_F(LaunchChain, a_parent_id_now_held_by_a_younger_process_was_reused) {
  add(table, confirmed(10, 0, 201, u"explorer.exe"));
  add(table, confirmed(50, 10, 200));
  EXPECT_EQ(verdict_of(50), u"Цепочка запуска неполна / PID переиспользован");
}

TEST_F(LaunchChain, a_parent_without_a_creation_time_cannot_be_confirmed) {
  add(table, confirmed(10, 0, 0));
  add(table, confirmed(50, 10, 200));
  EXPECT_EQ(verdict_of(50), u"Цепочка запуска неполна / PID переиспользован");
}

TEST_F(LaunchChain, a_parent_created_in_the_same_tick_as_its_child_is_accepted) {
  add(table, confirmed(10, 0, 200));
  add(table, confirmed(20, 10, 200));
  add(table, confirmed(50, 20, 200));
  EXPECT_EQ(verdict_of(50), u"");
}

TEST_F(LaunchChain, times_are_compared_link_by_link_not_against_the_process_itself) {
  add(table, confirmed(10, 0, 180));  // older than the process, younger than its own child
  add(table, confirmed(20, 10, 150));
  add(table, confirmed(50, 20, 200));
  EXPECT_EQ(verdict_of(50), u"Цепочка запуска неполна / PID переиспользован");
}

TEST_F(LaunchChain, a_loop_in_the_parent_links_cannot_be_confirmed) {
  add(table, confirmed(60, 70, 100));
  add(table, confirmed(70, 60, 100));  // same tick, so only the loop stops the walk
  add(table, confirmed(50, 60, 200));
  EXPECT_EQ(verdict_of(50), u"Не удалось подтвердить цепочку запуска");
}

TEST_F(LaunchChain, a_process_naming_itself_as_parent_is_a_loop_not_its_own_child) {
  add(table, confirmed(50, 50, 200));
  EXPECT_EQ(verdict_of(50), u"Не удалось подтвердить цепочку запуска");
}

TEST_F(LaunchChain, exactly_sixty_four_confirmed_ancestors_ending_at_a_root_may_be_frozen) {
  EXPECT_EQ(verdict_of(add_chain(64, 0)), u"");
}

TEST_F(LaunchChain, a_chain_that_goes_on_after_sixty_four_ancestors_cannot_be_confirmed) {
  EXPECT_EQ(verdict_of(add_chain(65, 0)), u"Не удалось подтвердить цепочку запуска");
}

TEST_F(LaunchChain, an_exited_sixty_fifth_ancestor_is_never_looked_at) {
  EXPECT_EQ(verdict_of(add_chain(64, 4242)), u"Не удалось подтвердить цепочку запуска");
}

}  // namespace
}  // namespace mirrow
