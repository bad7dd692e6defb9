#include "guard/recovery.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "guard/exit_codes.h"
#include "guard/output_lines.h"

namespace mirrow::guard {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr std::uint32_t kPid = 4321;
constexpr std::uint64_t kCreated = 133500000000000000ull;
constexpr std::u16string_view kImage = u"C:\\Games\\Some Tool.exe";
constexpr std::u16string_view kJournal = u"C:\\Users\\me\\freezes\\4321.jsonl";

// The recovery decisions over a scripted system: a mark that exists or not,
// a journal as text, a pin that names some image or fails, a resume status;
// everything the platform was asked to do is recorded in order.
class ScriptedRecovery : public RecoveryPlatform {
 public:
  bool mark_exists = false;
  std::optional<std::string> journal = std::string(kFrozenLine) + "\n";
  std::optional<std::u16string> pinned_image = std::u16string(kImage);
  NtStatus resume_status = 0;

  std::vector<std::string> calls;
  std::vector<std::string> journal_lines;
  std::vector<std::string> output;
  std::u16string asked_mark;
  std::size_t asked_tail_bytes = 0;

  // Runs while the journal is read: another guard acting in between.
  std::function<void(ScriptedRecovery&)> meanwhile;

  bool freeze_mark_exists(std::u16string_view name) override {
    calls.push_back("mark");
    asked_mark = name;
    return mark_exists;
  }
  std::optional<JournalTail> read_journal_tail(std::u16string_view path, std::size_t max_bytes) override {
    calls.push_back("journal");
    if (meanwhile) meanwhile(*this);
    EXPECT_EQ(path, kJournal);
    asked_tail_bytes = max_bytes;
    if (!journal) return std::nullopt;
    const std::size_t start = journal->size() > max_bytes ? journal->size() - max_bytes : 0;
    return JournalTail{journal->substr(start), start == 0};
  }
  std::optional<std::u16string> pin_target(std::uint32_t pid, std::uint64_t creation_ticks) override {
    calls.push_back("pin " + std::to_string(pid) + " " + std::to_string(creation_ticks));
    return pinned_image;
  }
  NtStatus resume_pinned() override {
    calls.push_back("resume");
    return resume_status;
  }
  void append_to_journal(std::u16string_view path, std::string_view line) override {
    EXPECT_EQ(path, kJournal);
    journal_lines.emplace_back(line);
  }
  void write_output(std::string_view line) override { output.emplace_back(line); }

  int run() {
    return run_recovery(RecoveryArguments{kPid, kCreated, std::u16string(kImage), std::u16string(kJournal)}, *this);
  }
};

const std::string kPinCall = "pin 4321 133500000000000000";

TEST(FreezeMarkName, names_the_target_by_its_id_and_creation_ticks_in_the_local_namespace) {
  EXPECT_EQ(freeze_mark_name(4321, kCreated), u"Local\\MirrowFreezeGuard-4321-133500000000000000");
  EXPECT_EQ(freeze_mark_name(0, 0), u"Local\\MirrowFreezeGuard-0-0");
  EXPECT_EQ(freeze_mark_name(4294967295u, 18446744073709551615ull),
            u"Local\\MirrowFreezeGuard-4294967295-18446744073709551615");
}

bool ends_frozen(std::string text, bool whole_file = true) { return journal_ends_frozen({std::move(text), whole_file}); }

TEST(JournalEndsFrozen, the_frozen_line_alone_or_after_earlier_lines_ends_a_stranded_freeze) {
  EXPECT_TRUE(ends_frozen("{\"state\":\"frozen\"}\n"));
  EXPECT_TRUE(ends_frozen("{\"state\":\"frozen\"}"));
  EXPECT_TRUE(ends_frozen("{\"earlier\":1}\n{\"state\":\"frozen\"}\n"));
  EXPECT_TRUE(ends_frozen("{\"state\":\"resumed\",\"reason\":\"requested\",\"status\":0}\n{\"state\":\"frozen\"}"));
}

TEST(JournalEndsFrozen, a_finished_empty_or_different_last_line_is_nothing_to_recover) {
  EXPECT_FALSE(ends_frozen(""));
  EXPECT_FALSE(ends_frozen("\n"));
  EXPECT_FALSE(ends_frozen("{\"state\":\"frozen\"}\n{\"state\":\"resumed\",\"reason\":\"requested\",\"status\":0}\n"));
  EXPECT_FALSE(ends_frozen("{\"state\":\"frozen\"}\n\n"));
  EXPECT_FALSE(ends_frozen(" {\"state\":\"frozen\"}\n"));
  EXPECT_FALSE(ends_frozen("x{\"state\":\"frozen\"}\n"));
  EXPECT_FALSE(ends_frozen("{\"state\":\"frozen\"} \n"));
  EXPECT_FALSE(ends_frozen("{\"state\": \"frozen\"}\n"));
}

TEST(JournalEndsFrozen, a_carriage_return_makes_the_last_line_another_line_since_the_guard_writes_bare_line_feeds) {
  EXPECT_FALSE(ends_frozen("{\"state\":\"frozen\"}\r\n"));
  EXPECT_FALSE(ends_frozen("{\"state\":\"frozen\"}\r"));
  // A carriage return on an earlier line does not matter.
  EXPECT_TRUE(ends_frozen("{\"earlier\":1}\r\n{\"state\":\"frozen\"}\n"));
}

TEST(JournalEndsFrozen, a_tail_cut_from_a_longer_file_must_show_the_line_feed_before_the_line) {
  EXPECT_FALSE(ends_frozen("{\"state\":\"frozen\"}\n", false));
  EXPECT_TRUE(ends_frozen("\n{\"state\":\"frozen\"}\n", false));
  EXPECT_FALSE(ends_frozen("x{\"state\":\"frozen\"}", false));
}

TEST(Recovery, a_live_freeze_mark_answers_guard_running_and_touches_nothing) {
  ScriptedRecovery platform;
  platform.mark_exists = true;
  EXPECT_EQ(platform.run(), kExitFrozenAndResumed);
  EXPECT_EQ(platform.asked_mark, u"Local\\MirrowFreezeGuard-4321-133500000000000000");
  EXPECT_THAT(platform.calls, ElementsAre("mark"));
  EXPECT_THAT(platform.output, ElementsAre(R"({"state":"guard_running"})"));
  EXPECT_THAT(platform.journal_lines, IsEmpty());
}

TEST(Recovery, a_guard_that_froze_the_target_after_the_first_look_at_its_mark_keeps_its_freeze) {
  // The journal's last freeze had ended; a new guard takes the mark, suspends
  // and writes its frozen line while the recovery reads the journal.
  ScriptedRecovery platform;
  platform.journal = std::string(kFrozenLine) + "\n" + R"({"state":"resumed","reason":"requested","status":0})" + "\n";
  platform.meanwhile = [](ScriptedRecovery& system) {
    system.mark_exists = true;
    *system.journal += std::string(kFrozenLine) + "\n";
  };
  EXPECT_EQ(platform.run(), kExitFrozenAndResumed);
  EXPECT_THAT(platform.calls, ElementsAre("mark", "journal", "mark"));
  EXPECT_THAT(platform.output, ElementsAre(R"({"state":"guard_running"})"));
  EXPECT_THAT(platform.journal_lines, IsEmpty());
}

TEST(Recovery, a_missing_or_finished_journal_answers_nothing_to_recover_and_pins_nothing) {
  for (const std::optional<std::string>& journal :
       {std::optional<std::string>(), std::optional<std::string>(""),
        std::optional<std::string>("{\"state\":\"frozen\"}\n{\"state\":\"resumed\",\"reason\":\"owner_exited\",\"status\":0}\n"),
        std::optional<std::string>("{\"state\":\"frozen\"}\r\n")}) {
    ScriptedRecovery platform;
    platform.journal = journal;
    EXPECT_EQ(platform.run(), kExitFrozenAndResumed);
    EXPECT_THAT(platform.calls, ElementsAre("mark", "journal"));
    EXPECT_THAT(platform.output, ElementsAre(R"({"state":"nothing_to_recover"})"));
    EXPECT_THAT(platform.journal_lines, IsEmpty());
  }
}

TEST(Recovery, a_stranded_freeze_is_resumed_once_and_the_journal_ends_with_the_recovered_line) {
  ScriptedRecovery platform;
  EXPECT_EQ(platform.run(), kExitFrozenAndResumed);
  EXPECT_THAT(platform.calls, ElementsAre("mark", "journal", "mark", kPinCall, "resume"));
  const std::string recovered = R"({"state":"resumed","reason":"recovered","status":0})";
  EXPECT_THAT(platform.journal_lines, ElementsAre(recovered));
  EXPECT_THAT(platform.output, ElementsAre(recovered));
}

TEST(Recovery, a_frozen_line_without_its_line_feed_gets_one_before_the_recovered_line) {
  ScriptedRecovery platform;
  platform.journal = std::string(kFrozenLine);
  EXPECT_EQ(platform.run(), kExitFrozenAndResumed);
  EXPECT_THAT(platform.journal_lines, ElementsAre("\n" + std::string(R"({"state":"resumed","reason":"recovered","status":0})")));
  EXPECT_THAT(platform.output, ElementsAre(R"({"state":"resumed","reason":"recovered","status":0})"));
}

TEST(Recovery, the_journal_is_read_only_at_its_end_however_long_it_grew) {
  ScriptedRecovery platform;
  platform.journal = std::string(100000, 'x') + "\n" + std::string(kFrozenLine);
  EXPECT_EQ(platform.run(), kExitFrozenAndResumed);
  EXPECT_EQ(platform.asked_tail_bytes, kJournalTailBytes);
  EXPECT_THAT(platform.calls, ElementsAre("mark", "journal", "mark", kPinCall, "resume"));
}

TEST(Recovery, an_image_that_differs_only_in_letter_case_is_the_same_instance) {
  ScriptedRecovery platform;
  platform.pinned_image = u"c:\\GAMES\\some tool.EXE";
  EXPECT_EQ(platform.run(), kExitFrozenAndResumed);
  EXPECT_THAT(platform.calls, ElementsAre("mark", "journal", "mark", kPinCall, "resume"));
}

TEST(Recovery, a_target_that_cannot_be_pinned_or_runs_another_image_is_abandoned_and_never_resumed) {
  for (const std::optional<std::u16string>& image :
       {std::optional<std::u16string>(), std::optional<std::u16string>(u"C:\\Games\\Other Tool.exe")}) {
    ScriptedRecovery platform;
    platform.pinned_image = image;
    EXPECT_EQ(platform.run(), kExitCannotPin);
    EXPECT_THAT(platform.calls, ElementsAre("mark", "journal", "mark", kPinCall));
    EXPECT_THAT(platform.journal_lines, ElementsAre(R"({"state":"abandoned","reason":"target_gone"})"));
    EXPECT_THAT(platform.output, ElementsAre(R"({"state":"abandoned","reason":"target_gone"})"));
  }
}

TEST(Recovery, a_negative_resume_status_is_journalled_and_adds_the_status_line_and_exit_code_five) {
  ScriptedRecovery platform;
  platform.resume_status = static_cast<NtStatus>(0xC0000002u);
  EXPECT_EQ(platform.run(), kExitSuspensionFailed);
  const std::string failed = R"({"state":"resume_failed","reason":"recovered","status":-1073741822})";
  EXPECT_THAT(platform.journal_lines, ElementsAre(failed));
  EXPECT_THAT(platform.output,
              ElementsAre(failed, R"({"error":"NT suspend/resume failed","status":-1073741822})"));
}

}  // namespace
}  // namespace mirrow::guard
