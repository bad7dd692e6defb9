// mirrowctl recover's pure parts: its command line, the names of the freeze
// records and the guard's answers read as outcomes.
#include <algorithm>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host/command_line.h"
#include "host/freeze_records.h"
#include "host/json_value.h"

namespace mirrow::host {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Optional;

constexpr FreezeIdentity kIdentity{4242, 133790000000000001ull};

TEST(RecoverCommandLine, takes_dry_run_and_json_and_nothing_else) {
  const auto parsed = parse_command_line({u"recover", u"--dry-run", u"--json"});
  ASSERT_TRUE(std::holds_alternative<Request>(parsed));
  const Request& request = std::get<Request>(parsed);
  EXPECT_EQ(request.command, Subcommand::recover);
  EXPECT_TRUE(request.dry_run);
  EXPECT_TRUE(request.json);

  const auto plain = parse_command_line({u"recover"});
  ASSERT_TRUE(std::holds_alternative<Request>(plain));
  EXPECT_FALSE(std::get<Request>(plain).dry_run);

  for (const auto& arguments : std::vector<std::vector<std::u16string>>{
           {u"recover", u"4242"}, {u"recover", u"--lease", u"5"}, {u"freeze", u"4242", u"--lease", u"5", u"--dry-run"}}) {
    EXPECT_TRUE(std::holds_alternative<UsageError>(parse_command_line(arguments)));
  }
  EXPECT_EQ(std::get<UsageError>(parse_command_line({u"ps", u"--dry-run"})).message,
            "--dry-run is not an option of ps");
}

TEST(RecoverCommandLine, the_overview_and_its_own_usage_name_it) {
  EXPECT_THAT(usage_text(Subcommand::none), HasSubstr("  recover "));
  EXPECT_THAT(usage_text(Subcommand::recover), HasSubstr("usage: mirrowctl recover [--dry-run] [--json]"));
  EXPECT_THAT(usage_text(Subcommand::freeze), HasSubstr("Mirrow\\freezes"));
}

TEST(FreezeRecords, live_in_the_mirrow_freezes_folder_of_local_application_data) {
  EXPECT_EQ(freezes_folder(u"C:\\Users\\me\\AppData\\Local"), u"C:\\Users\\me\\AppData\\Local\\Mirrow\\freezes");
  EXPECT_EQ(freezes_folder(u"D:\\"), u"D:\\Mirrow\\freezes");
}

TEST(FreezeRecords, a_journal_name_gives_back_the_identity_it_was_made_from) {
  EXPECT_EQ(record_stem(kIdentity), u"4242-133790000000000001");
  const auto identity = identity_of_journal(record_stem(kIdentity) + u".jsonl");
  ASSERT_TRUE(identity);
  EXPECT_EQ(identity->pid, kIdentity.pid);
  EXPECT_EQ(identity->created, kIdentity.created);
  EXPECT_EQ(identity_of_journal(u"4294967295-18446744073709551615.jsonl")->created, 18446744073709551615ull);
}

TEST(FreezeRecords, any_other_file_name_is_no_journal) {
  for (const std::u16string name :
       {u"4242-1.image", u"4242-1.jsonl.bak", u"4242.jsonl", u"-1.jsonl", u"4242-.jsonl", u"0-1.jsonl",
        u"4294967296-1.jsonl", u"4242-18446744073709551616.jsonl", u"+4242-1.jsonl", u"4242-1-2.jsonl",
        u"42 42-1.jsonl", u".jsonl"}) {
    EXPECT_FALSE(identity_of_journal(name)) << std::string(name.begin(), name.end());
  }
}

TEST(FreezeRecords, the_recovery_form_gets_the_identity_image_and_journal) {
  EXPECT_THAT(recovery_arguments(kIdentity, u"C:\\Apps\\note.exe", u"C:\\f\\4242-133790000000000001.jsonl"),
              ElementsAre(u"--recover", u"4242", u"133790000000000001", u"C:\\Apps\\note.exe",
                          u"C:\\f\\4242-133790000000000001.jsonl"));
}

TEST(FreezeRecords, an_image_file_of_an_earlier_version_holds_utf8_and_a_stray_line_end_is_ignored) {
  EXPECT_THAT(image_path_of_record("C:\\Apps\\note.exe"), Optional(std::u16string(u"C:\\Apps\\note.exe")));
  EXPECT_THAT(image_path_of_record("C:\\\xD0\x98\xD0\xB3\xD1\x80\xD1\x8B\\run.exe\r\n"),
              Optional(std::u16string(u"C:\\Игры\\run.exe")));
  EXPECT_EQ(image_path_of_record(""), std::nullopt);
  EXPECT_EQ(image_path_of_record("\r\n"), std::nullopt);
}

TEST(FreezeRecords, an_image_path_that_utf8_cannot_carry_comes_back_unit_for_unit) {
  // NTFS allows a lone surrogate in a name; UTF-8 would turn it into U+FFFD
  // and the recovery would then take the target for another instance.
  for (const std::u16string& path : {std::u16string(u"C:\\Tools\\a") + char16_t(0xD800) + u"b.exe",
                                    std::u16string(u"C:\\Tools\\") + char16_t(0xDFFF) + u".exe",
                                    std::u16string(u"C:\\Игры\\😀 run.exe"), std::u16string(u"C:\\x.exe")}) {
    const std::string record = image_record_text(path);
    EXPECT_TRUE(std::ranges::all_of(record, [](char c) { return c >= 0x20 && c <= 0x7E; })) << record;
    EXPECT_THAT(image_path_of_record(record), Optional(path));
    EXPECT_THAT(image_path_of_record(record + "\r\n"), Optional(path));
  }
  EXPECT_EQ(image_record_text(std::u16string(u"C:\\a") + char16_t(0xD800)), R"("C:\\a\ud800")");
  EXPECT_EQ(image_path_of_record(R"("")"), std::nullopt);
  EXPECT_EQ(image_path_of_record(R"("C:\\unterminated)"), std::nullopt);
}

TEST(RecoveryAnswer, each_answer_of_the_guard_is_its_outcome) {
  const RecoveryResult resumed = read_recovery_answer(0, {R"({"state":"resumed","reason":"recovered","status":0})"});
  EXPECT_EQ(resumed.outcome, RecoveryOutcome::resumed);
  EXPECT_THAT(resumed.status, Optional(0));
  EXPECT_EQ(read_recovery_answer(0, {R"({"state":"guard_running"})"}).outcome, RecoveryOutcome::guard_running);
  EXPECT_EQ(read_recovery_answer(0, {R"({"state":"nothing_to_recover"})"}).outcome, RecoveryOutcome::nothing_to_do);
  EXPECT_EQ(read_recovery_answer(4, {R"({"state":"abandoned","reason":"target_gone"})"}).outcome,
            RecoveryOutcome::abandoned);
  for (const RecoveryOutcome outcome : {RecoveryOutcome::resumed, RecoveryOutcome::guard_running,
                                        RecoveryOutcome::nothing_to_do, RecoveryOutcome::abandoned,
                                        RecoveryOutcome::would_recover}) {
    EXPECT_FALSE(recovery_failed(RecoveryResult{outcome, std::nullopt, {}}));
  }
}

TEST(RecoveryAnswer, a_failed_resume_or_an_answer_out_of_place_is_a_failure) {
  const RecoveryResult failed = read_recovery_answer(
      5, {R"({"state":"resume_failed","reason":"recovered","status":-1073741822})",
          R"({"error":"NT suspend/resume failed","status":-1073741822})"});
  EXPECT_TRUE(recovery_failed(failed));
  EXPECT_THAT(failed.status, Optional(-1073741822));
  EXPECT_EQ(outcome_text(failed), "FAILED: the resume failed, status -1073741822");

  EXPECT_TRUE(recovery_failed(read_recovery_answer(2, {R"({"error":"Expected pid, creation ticks, lease, image path, journal path"})"})));
  EXPECT_TRUE(recovery_failed(read_recovery_answer(4, {R"({"state":"guard_running"})"})));
  EXPECT_TRUE(recovery_failed(read_recovery_answer(0, {})));
  EXPECT_EQ(outcome_text(read_recovery_answer(1, {})), "FAILED: the guard answered nothing with exit code 1");
}

TEST(RecoveryAnswer, the_json_line_names_the_target_and_its_outcome) {
  const std::string resumed =
      recovery_json_line(kIdentity, u"C:\\Игры\\run.exe", u"C:\\f\\x.jsonl", {RecoveryOutcome::resumed, 0, {}});
  EXPECT_EQ(resumed,
            R"({"pid":4242,"created":133790000000000001,"image":"C:\\\u0418\u0433\u0440\u044b\\run.exe",)"
            R"("journal":"C:\\f\\x.jsonl","outcome":"resumed","status":0})");
  const auto failed = parse_json(recovery_json_line(kIdentity, u"?", u"j", {RecoveryOutcome::failed, std::nullopt, "no image"}));
  ASSERT_TRUE(failed);
  EXPECT_EQ((*failed)["outcome"].as_text(), u"failed");
  EXPECT_EQ((*failed)["problem"].as_text(), u"no image");
  EXPECT_TRUE((*failed)["status"].is_null());
}

}  // namespace
}  // namespace mirrow::host
