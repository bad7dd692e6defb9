// The verdict rules up to the ancestor test: which fact refuses a process,
// in which order, and the exact reason texts.
#include <gtest/gtest.h>

#include "classifier/verdict.h"
#include "tests/classifier/facts_builder.h"

namespace mirrow {
namespace {

using test::add;
using test::confirmed;

constexpr std::uint32_t kAnchor = 900;
constexpr std::uint32_t kTarget = 50;
constexpr std::uint32_t kRoot = 10;

// A target started by a root process, with an anchor that is not related to
// it: nothing refuses the target until a test changes one fact.
class VerdictRules : public ::testing::Test {
 protected:
  VerdictRules() {
    add(table, confirmed(kRoot, 0, 100, u"wininit.exe"));
    add(table, confirmed(kAnchor, 0, 150, u"host.exe"));
    add(table, target);
  }

  std::u16string verdict() { return protection_reason(target, table, kAnchor, environment); }

  VerdictEnvironment environment = test::environment();
  ProcessFacts target = confirmed(kTarget, kRoot, 200);
  ProcessTable table;
};

TEST_F(VerdictRules, process_with_every_fact_confirmed_and_a_rooted_chain_may_be_frozen) {
  EXPECT_EQ(verdict(), u"");
}

// --- unconfirmed metadata ---

TEST_F(VerdictRules, unknown_criticality_is_unconfirmed_even_when_everything_else_is_known) {
  target.critical_known = false;
  target.critical = false;
  EXPECT_EQ(verdict(), u"Нет подтверждённых метаданных");
}

TEST_F(VerdictRules, unknown_creation_time_is_unconfirmed) {
  target.creation_time = 0;
  EXPECT_EQ(verdict(), u"Нет подтверждённых метаданных");
}

TEST_F(VerdictRules, unknown_image_path_is_unconfirmed) {
  target.image_path.clear();
  EXPECT_EQ(verdict(), u"Нет подтверждённых метаданных");
}

TEST_F(VerdictRules, an_unopened_process_with_default_facts_is_unconfirmed) {
  ProcessFacts unopened;
  unopened.pid = kTarget;
  unopened.parent_pid = kRoot;
  unopened.exe_name = u"worker.exe";
  EXPECT_EQ(protection_reason(unopened, table, kAnchor, environment), u"Нет подтверждённых метаданных");
}

TEST_F(VerdictRules, unconfirmed_metadata_is_tried_before_the_system_ids) {
  target.pid = 4;
  target.critical_known = false;
  EXPECT_EQ(verdict(), u"Нет подтверждённых метаданных");
}

// --- critical or own ---

TEST_F(VerdictRules, system_ids_zero_to_four_with_every_fact_known_are_critical) {
  for (std::uint32_t pid = 0; pid <= 4; ++pid) {
    target.pid = pid;
    EXPECT_EQ(verdict(), u"Критический / собственный процесс") << pid;
  }
  target.pid = 5;
  EXPECT_EQ(verdict(), u"");
}

TEST_F(VerdictRules, the_anchor_itself_is_own_not_an_ancestor_of_the_anchor) {
  target.pid = kAnchor;
  EXPECT_EQ(verdict(), u"Критический / собственный процесс");
}

TEST_F(VerdictRules, the_calling_process_is_own) {
  target.pid = test::kOwnPid;
  EXPECT_EQ(verdict(), u"Критический / собственный процесс");
}

TEST_F(VerdictRules, a_critical_process_with_a_visible_window_is_refused_as_critical) {
  target.critical = true;
  target.has_visible_window = true;
  EXPECT_EQ(verdict(), u"Критический / собственный процесс");
}

// --- service, other session or other user ---

TEST_F(VerdictRules, session_zero_is_a_service) {
  target.session_id = 0;
  environment.own_session = 0;
  EXPECT_EQ(verdict(), u"Служба, другая сессия или другой пользователь");
}

TEST_F(VerdictRules, another_session_is_refused_before_a_protected_name) {
  target.session_id = 2;
  target.exe_name = u"anticheat.exe";
  EXPECT_EQ(verdict(), u"Служба, другая сессия или другой пользователь");
}

TEST_F(VerdictRules, an_unread_session_differs_from_every_session) {
  target.session_id = kUnknownSession;
  EXPECT_EQ(verdict(), u"Служба, другая сессия или другой пользователь");
}

TEST_F(VerdictRules, another_user_in_the_same_session_is_refused) {
  target.same_user = false;
  EXPECT_EQ(verdict(), u"Служба, другая сессия или другой пользователь");
}

TEST_F(VerdictRules, an_unread_own_session_refuses_every_process_of_a_real_session) {
  environment.own_session = 0;
  EXPECT_EQ(verdict(), u"Служба, другая сессия или другой пользователь");
}

// --- Windows component ---

TEST_F(VerdictRules, an_image_under_the_windows_directory_is_a_windows_component) {
  target.image_path = u"C:\\Windows\\System32\\worker.exe";
  EXPECT_EQ(verdict(), u"Компонент Windows");
}

TEST_F(VerdictRules, the_windows_directory_matches_in_any_letter_case) {
  target.image_path = u"c:\\WINDOWS\\system32\\worker.exe";
  environment.windows_directory = u"C:\\windows";
  EXPECT_EQ(verdict(), u"Компонент Windows");
}

TEST_F(VerdictRules, a_sibling_directory_with_the_same_leading_letters_is_not_the_windows_directory) {
  target.image_path = u"C:\\WindowsApps\\worker.exe";
  EXPECT_EQ(verdict(), u"");
  target.image_path = u"C:\\Windows";
  EXPECT_EQ(verdict(), u"");
}

TEST_F(VerdictRules, a_windows_directory_reported_with_its_back_slash_gets_no_second_one) {
  environment.windows_directory = u"C:\\Windows\\";
  target.image_path = u"C:\\Windows\\worker.exe";
  EXPECT_EQ(verdict(), u"Компонент Windows");
  target.image_path = u"C:\\WindowsApps\\worker.exe";
  EXPECT_EQ(verdict(), u"");
}

TEST_F(VerdictRules, a_windows_directory_at_a_drive_root_covers_the_whole_drive) {
  environment.windows_directory = u"D:\\";
  target.image_path = u"D:\\worker.exe";
  EXPECT_EQ(verdict(), u"Компонент Windows");
}

TEST_F(VerdictRules, an_unreadable_windows_directory_matches_nothing) {
  environment.windows_directory.clear();
  for (const std::u16string path : {u"\\worker.exe", u"\\\\server\\share\\worker.exe",
                                    u"C:\\Windows\\worker.exe"}) {
    target.image_path = path;
    EXPECT_EQ(verdict(), u"");
  }
}

TEST_F(VerdictRules, a_windows_component_is_refused_before_its_protected_name) {
  target.image_path = u"C:\\Windows\\mirrow.exe";
  target.exe_name = u"mirrow.exe";
  EXPECT_EQ(verdict(), u"Компонент Windows");
}

// --- protected names ---

TEST_F(VerdictRules, a_protected_fragment_in_any_letter_case_is_refused) {
  for (const std::u16string name : {u"MyAntiCheat.exe", u"notcs2.exe", u"MIRROW.exe",
                                    u"Mirrow.Host.exe", u"BEService_x64.exe", u"vgc.exe"}) {
    target.exe_name = name;
    EXPECT_EQ(verdict(), u"Защита, игра или компонент Mirrow");
  }
}

TEST_F(VerdictRules, only_the_executable_name_is_checked_for_protected_fragments) {
  target.image_path = u"C:\\Program Files\\Mirrow\\FortniteTools\\worker.exe";
  EXPECT_EQ(verdict(), u"");
}

TEST_F(VerdictRules, a_protected_name_is_refused_before_its_visible_window) {
  target.exe_name = u"FortniteClient.exe";
  target.has_visible_window = true;
  EXPECT_EQ(verdict(), u"Защита, игра или компонент Mirrow");
}

// --- visible window ---

TEST_F(VerdictRules, a_process_with_a_visible_window_is_refused_before_its_children) {
  target.has_visible_window = true;
  add(table, confirmed(60, kTarget, 300));
  EXPECT_EQ(verdict(), u"Есть видимое окно");
}

// --- children ---

TEST_F(VerdictRules, a_younger_child_is_a_child) {
  add(table, confirmed(60, kTarget, 300));
  EXPECT_EQ(verdict(), u"Есть дочерние процессы");
}

TEST_F(VerdictRules, a_child_created_in_the_same_tick_is_a_child) {
  add(table, confirmed(60, kTarget, 200));
  EXPECT_EQ(verdict(), u"Есть дочерние процессы");
}

TEST_F(VerdictRules, an_entry_older_than_its_named_parent_belonged_to_an_earlier_holder_of_the_id) {
  add(table, confirmed(60, kTarget, 199));
  EXPECT_EQ(verdict(), u"");
}

TEST_F(VerdictRules, a_child_without_a_creation_time_does_not_count) {
  ProcessFacts child = confirmed(60, kTarget, 0);
  child.critical_known = false;
  add(table, child);
  EXPECT_EQ(verdict(), u"");
}

// --- ancestor of the anchor ---

// The anchor's chain is c0 (the anchor) <- c1 <- ... <- c{length-1}. Its
// members carry no creation time, so none of them counts as the target's
// child and the ancestor rule is the one that decides.
void add_anchor_chain(ProcessTable& table, int length, std::uint32_t last_parent) {
  for (int i = 0; i < length; ++i) {
    const std::uint32_t pid = kAnchor + static_cast<std::uint32_t>(i);
    const std::uint32_t parent = i + 1 < length ? pid + 1 : last_parent;
    add(table, confirmed(pid, parent, 0, u"host.exe"));
  }
}

TEST_F(VerdictRules, the_anchors_parent_is_an_ancestor) {
  add(table, confirmed(kAnchor, kTarget, 0, u"host.exe"));
  EXPECT_EQ(verdict(), u"Предок Mirrow");
}

TEST_F(VerdictRules, the_anchors_sixty_third_ancestor_is_still_compared_and_the_sixty_fourth_is_not) {
  add_anchor_chain(table, 64, kTarget);  // the target is the 64th ancestor
  EXPECT_EQ(verdict(), u"");
  add_anchor_chain(table, 63, kTarget);  // the target is the 63rd ancestor
  EXPECT_EQ(verdict(), u"Предок Mirrow");
}

TEST_F(VerdictRules, a_loop_in_the_anchors_chain_ends_the_ancestor_walk) {
  add_anchor_chain(table, 3, kAnchor);
  EXPECT_EQ(verdict(), u"");
}

TEST_F(VerdictRules, the_ancestor_walk_ends_at_an_exited_process) {
  add_anchor_chain(table, 2, 777);  // 777 is not in the table
  EXPECT_EQ(verdict(), u"");
}

}  // namespace
}  // namespace mirrow
