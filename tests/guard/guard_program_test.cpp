#include "guard/guard_program.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "guard/exit_codes.h"
#include "guard/output_lines.h"

namespace mirrow::guard {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr std::uint32_t kGuardPid = 900;
constexpr std::uint32_t kHostPid = 800;
constexpr std::uint32_t kTargetPid = 1234;
constexpr std::uint64_t kTargetCreated = 133500000000000000ull;

ProcessFacts entry(std::uint32_t pid, std::uint32_t parent, std::u16string path, std::uint64_t created) {
  ProcessFacts facts;
  facts.pid = pid;
  facts.parent_pid = parent;
  facts.image_path = std::move(path);
  facts.creation_time = created;
  return facts;
}

// The program flow over a stand-in system: a fixed table, a scripted verdict,
// pin and freeze results, and a record of what reached the output.
class FakeGuardPlatform : public GuardPlatform {
 public:
  ProcessTable table{
      {kGuardPid, entry(kGuardPid, kHostPid, u"C:\\Mirrow\\FreezeGuard.exe", kTargetCreated + 50)},
      {kHostPid, entry(kHostPid, 4, u"C:\\Mirrow\\Mirrow.exe", kTargetCreated - 50)},
      {kTargetPid, entry(kTargetPid, 77, u"C:\\Games\\Some Tool.exe", kTargetCreated)},
  };
  std::u16string verdict_text;
  bool pin_succeeds = true;
  bool mark_held_elsewhere = false;
  std::optional<std::string> journal;  // the whole file; nothing when missing
  NtStatus freeze_status = 0;

  std::vector<std::string> lines;
  int collections = 0;
  std::vector<std::uint32_t> verdict_anchors;
  std::vector<std::uint32_t> pinned;  // target, owner
  std::uint64_t pinned_ticks = 0;
  std::vector<std::string> marks_taken;
  std::vector<std::u16string> journals_read;
  bool froze = false;
  std::uint32_t frozen_lease = 0;
  std::u16string frozen_journal;
  std::uint32_t frozen_heartbeat = 0;

  void write_output(std::string_view line) override { lines.emplace_back(line); }
  int run_fixture() override { return 101; }
  int run_self_test() override { return 102; }
  std::vector<RecoveryArguments> recoveries;
  int run_recovery(const RecoveryArguments& arguments) override {
    recoveries.push_back(arguments);
    return 103;
  }
  ProcessTable collect_table() override {
    ++collections;
    return table;
  }
  std::uint32_t own_pid() override { return kGuardPid; }
  std::u16string protection_reason(const ProcessFacts&, const ProcessTable&, std::uint32_t anchor_pid) override {
    verdict_anchors.push_back(anchor_pid);
    return verdict_text;
  }
  bool pin(std::uint32_t target_pid, std::uint32_t owner_pid, std::uint64_t creation_ticks) override {
    pinned = {target_pid, owner_pid};
    pinned_ticks = creation_ticks;
    return pin_succeeds;
  }
  bool take_freeze_mark(std::uint32_t target_pid, std::uint64_t creation_ticks) override {
    EXPECT_FALSE(pinned.empty()) << "the mark is taken after the pin";
    marks_taken.push_back(std::to_string(target_pid) + "-" + std::to_string(creation_ticks));
    return !mark_held_elsewhere;
  }
  std::optional<JournalTail> read_journal_tail(std::u16string_view path, std::size_t max_bytes) override {
    journals_read.emplace_back(path);
    if (!journal) return std::nullopt;
    const std::size_t start = journal->size() > max_bytes ? journal->size() - max_bytes : 0;
    return JournalTail{journal->substr(start), start == 0};
  }
  NtStatus freeze_pinned(std::uint32_t lease_seconds, std::u16string_view journal_path,
                         std::uint32_t heartbeat_timeout_ms) override {
    froze = true;
    frozen_lease = lease_seconds;
    frozen_journal = journal_path;
    frozen_heartbeat = heartbeat_timeout_ms;
    return freeze_status;
  }

  int run(std::vector<std::u16string> arguments) { return run_guard(arguments, *this); }
  int run_normal(std::u16string pid, std::u16string ticks, std::u16string lease, std::u16string path,
                 std::u16string journal = u"") {
    return run({pid, ticks, lease, path, journal});
  }
  int run_on_target(std::u16string lease = u"30", std::u16string path = u"C:\\Games\\Some Tool.exe") {
    return run_normal(u"1234", u"133500000000000000", lease, path, u"C:\\j.txt");
  }
};

TEST(GuardProgram, a_wrong_argument_count_is_reported_without_looking_at_any_process) {
  FakeGuardPlatform platform;
  EXPECT_EQ(platform.run({u"1", u"2", u"3", u"4"}), kExitBadArguments);
  EXPECT_EQ(platform.run({u"--Fixture"}), kExitBadArguments);
  EXPECT_EQ(platform.run({u"--self-test", u"now"}), kExitBadArguments);
  EXPECT_EQ(platform.lines, std::vector<std::string>(3, std::string(kWrongArgumentCountLine)));
  EXPECT_EQ(platform.collections, 0);
}

TEST(GuardProgram, the_special_forms_are_dispatched_before_any_other_handling) {
  FakeGuardPlatform platform;
  EXPECT_EQ(platform.run({u"--fixture"}), 101);
  EXPECT_EQ(platform.run({u"--self-test"}), 102);
  EXPECT_THAT(platform.lines, IsEmpty());
  EXPECT_EQ(platform.collections, 0);
}

TEST(GuardProgram, the_recovery_form_takes_its_four_values_and_never_collects_a_table) {
  FakeGuardPlatform platform;
  EXPECT_EQ(platform.run({u"--recover", u"1234", u"133500000000000000", u"C:\\Games\\Some Tool.exe", u"C:\\j.txt"}),
            103);
  ASSERT_EQ(platform.recoveries.size(), 1u);
  EXPECT_EQ(platform.recoveries[0].pid, kTargetPid);
  EXPECT_EQ(platform.recoveries[0].creation_ticks, kTargetCreated);
  EXPECT_EQ(platform.recoveries[0].image_path, u"C:\\Games\\Some Tool.exe");
  EXPECT_EQ(platform.recoveries[0].journal_path, u"C:\\j.txt");
  EXPECT_THAT(platform.lines, IsEmpty());
  EXPECT_EQ(platform.collections, 0);
}

TEST(GuardProgram, only_an_exact_recover_before_four_values_selects_the_recovery_form) {
  FakeGuardPlatform platform;
  EXPECT_EQ(platform.run({u"--recover", u"1234", u"133500000000000000", u"C:\\j.txt"}), kExitBadArguments);
  EXPECT_EQ(platform.run({u"--recover", u"1", u"2", u"3", u"4", u"5"}), kExitBadArguments);
  EXPECT_EQ(platform.lines, std::vector<std::string>(2, std::string(kWrongArgumentCountLine)));
  // Any other first word is the normal form, whose pid then reads as 0.
  EXPECT_EQ(platform.run({u"--Recover", u"1234", u"30", u"C:\\x.exe", u""}), kExitBadArguments);
  EXPECT_EQ(platform.lines.back(), kInvalidIdentityLine);
  EXPECT_THAT(platform.recoveries, IsEmpty());
}

TEST(GuardProgram, a_confirmed_target_is_pinned_and_frozen_under_the_guards_parent) {
  FakeGuardPlatform platform;
  EXPECT_EQ(platform.run_on_target(), kExitFrozenAndResumed);
  EXPECT_THAT(platform.verdict_anchors, ElementsAre(kHostPid));
  EXPECT_THAT(platform.pinned, ElementsAre(kTargetPid, kHostPid));
  EXPECT_EQ(platform.pinned_ticks, kTargetCreated);
  EXPECT_EQ(platform.frozen_lease, 30u);
  EXPECT_EQ(platform.frozen_journal, u"C:\\j.txt");
  EXPECT_EQ(platform.frozen_heartbeat, 15000u);
  EXPECT_THAT(platform.lines, IsEmpty());
}

TEST(GuardProgram, a_lease_outside_one_to_six_hundred_is_invalid_before_any_verdict) {
  for (const std::u16string lease : {u"0", u"601", u"-1", u"x"}) {
    FakeGuardPlatform platform;
    EXPECT_EQ(platform.run_on_target(lease), kExitBadArguments);
    EXPECT_THAT(platform.lines, ElementsAre(std::string(kInvalidIdentityLine)));
    EXPECT_THAT(platform.verdict_anchors, IsEmpty());
  }
  for (const std::u16string lease : {u"1", u"600", u" 600s"}) {
    FakeGuardPlatform platform;
    EXPECT_EQ(platform.run_on_target(lease), kExitFrozenAndResumed);
  }
}

TEST(GuardProgram, an_unknown_target_or_a_guard_without_an_owner_is_invalid_not_refused) {
  FakeGuardPlatform unknown_target;
  EXPECT_EQ(unknown_target.run_normal(u"4321", u"1", u"30", u"x"), kExitBadArguments);
  EXPECT_THAT(unknown_target.lines, ElementsAre(std::string(kInvalidIdentityLine)));

  FakeGuardPlatform missing_self;
  missing_self.table.erase(kGuardPid);
  EXPECT_EQ(missing_self.run_on_target(), kExitBadArguments);

  FakeGuardPlatform orphan;
  orphan.table.at(kGuardPid).parent_pid = 0;
  EXPECT_EQ(orphan.run_on_target(), kExitBadArguments);
  EXPECT_THAT(orphan.lines, ElementsAre(std::string(kInvalidIdentityLine)));
  EXPECT_FALSE(orphan.froze);
}

TEST(GuardProgram, a_classifier_refusal_is_written_escaped_and_nothing_is_pinned) {
  FakeGuardPlatform platform;
  platform.verdict_text = u"Есть дочерние процессы";
  EXPECT_EQ(platform.run_on_target(), kExitRefused);
  EXPECT_THAT(platform.lines, ElementsAre(refusal_line(u"Есть дочерние процессы")));
  EXPECT_THAT(platform.pinned, IsEmpty());
}

TEST(GuardProgram, creation_ticks_off_by_one_refuse_as_a_changed_instance_even_when_cleared) {
  FakeGuardPlatform platform;
  EXPECT_EQ(platform.run_normal(u"1234", u"133500000000000001", u"30", u"C:\\Games\\Some Tool.exe"), kExitRefused);
  EXPECT_THAT(platform.lines, ElementsAre(refusal_line(kIdentityChangedReason)));
  EXPECT_FALSE(platform.froze);
}

TEST(GuardProgram, a_changed_instance_replaces_the_classifiers_own_reason) {
  FakeGuardPlatform platform;
  platform.verdict_text = u"Есть видимое окно";
  EXPECT_EQ(platform.run_on_target(u"30", u"C:\\Games\\Other.exe"), kExitRefused);
  EXPECT_THAT(platform.lines, ElementsAre(refusal_line(kIdentityChangedReason)));
}

TEST(GuardProgram, the_image_path_is_compared_without_regard_to_letter_case) {
  FakeGuardPlatform platform;
  EXPECT_EQ(platform.run_on_target(u"30", u"c:\\GAMES\\some tool.EXE"), kExitFrozenAndResumed);
  FakeGuardPlatform longer;
  EXPECT_EQ(longer.run_on_target(u"30", u"C:\\Games\\Some Tool.exe "), kExitRefused);
}

TEST(GuardProgram, a_target_that_cannot_be_pinned_is_never_frozen) {
  FakeGuardPlatform platform;
  platform.pin_succeeds = false;
  EXPECT_EQ(platform.run_on_target(), kExitCannotPin);
  EXPECT_THAT(platform.lines, ElementsAre(std::string(kCannotPinLine)));
  EXPECT_FALSE(platform.froze);
}

TEST(GuardProgram, the_freeze_mark_of_the_pinned_instance_is_taken_and_its_journal_read_before_the_freeze) {
  FakeGuardPlatform platform;
  platform.journal = std::string(kFrozenLine) + "\n" + R"({"state":"resumed","reason":"requested","status":0})" + "\n";
  EXPECT_EQ(platform.run_on_target(), kExitFrozenAndResumed);
  EXPECT_THAT(platform.marks_taken, ElementsAre("1234-133500000000000000"));
  EXPECT_THAT(platform.journals_read, ElementsAre(u"C:\\j.txt"));
  EXPECT_TRUE(platform.froze);
}

TEST(GuardProgram, another_guard_holding_the_mark_refuses_a_second_freeze_that_would_hide_it) {
  FakeGuardPlatform platform;
  platform.mark_held_elsewhere = true;
  EXPECT_EQ(platform.run_on_target(), kExitGuardRunning);
  EXPECT_THAT(platform.lines, ElementsAre(std::string(kGuardRunningLine)));
  EXPECT_FALSE(platform.froze);
}

TEST(GuardProgram, a_journal_ending_with_a_killed_guards_frozen_line_needs_recovery_before_any_new_freeze) {
  for (const std::string& journal : {std::string(kFrozenLine) + "\n", "{\"earlier\":1}\n" + std::string(kFrozenLine)}) {
    FakeGuardPlatform platform;
    platform.journal = journal;
    EXPECT_EQ(platform.run_on_target(), kExitNeedsRecovery);
    EXPECT_THAT(platform.lines, ElementsAre(std::string(kNeedsRecoveryLine)));
    EXPECT_FALSE(platform.froze);
  }
  // No journal, an empty one, or one whose last freeze ended: nothing stands in the way.
  for (const std::optional<std::string>& journal :
       {std::optional<std::string>(), std::optional<std::string>(""),
        std::optional<std::string>(std::string(kFrozenLine) + "\n" + R"({"state":"resumed","reason":"recovered","status":0})")}) {
    FakeGuardPlatform platform;
    platform.journal = journal;
    EXPECT_EQ(platform.run_on_target(), kExitFrozenAndResumed);
    EXPECT_TRUE(platform.froze);
  }
}

TEST(GuardProgram, a_refusal_before_the_pin_takes_no_mark) {
  FakeGuardPlatform platform;
  platform.verdict_text = u"Есть видимое окно";
  EXPECT_EQ(platform.run_on_target(), kExitRefused);
  FakeGuardPlatform unpinned;
  unpinned.pin_succeeds = false;
  EXPECT_EQ(unpinned.run_on_target(), kExitCannotPin);
  EXPECT_THAT(platform.marks_taken, IsEmpty());
  EXPECT_THAT(unpinned.marks_taken, IsEmpty());
}

TEST(GuardProgram, a_negative_freeze_status_adds_the_status_line_and_exit_code_five) {
  FakeGuardPlatform platform;
  platform.freeze_status = static_cast<NtStatus>(0xC000010Au);
  EXPECT_EQ(platform.run_on_target(), kExitSuspensionFailed);
  EXPECT_THAT(platform.lines, ElementsAre(R"({"error":"NT suspend/resume failed","status":-1073741558})"));

  FakeGuardPlatform informational;
  informational.freeze_status = 0x40000000;
  EXPECT_EQ(informational.run_on_target(), kExitFrozenAndResumed);
}

}  // namespace
}  // namespace mirrow::guard
