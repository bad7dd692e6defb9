// mirrowctl recover end to end: a counting child frozen by a guard of the
// test build with its record in the freezes folder, the guard killed, then
// mirrowctl run as a user runs it. LOCALAPPDATA points at a fresh folder for
// every test, so the user's own records are never touched.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host/freeze_records.h"
#include "host/json_value.h"
#include "support/child_process_win.h"
#include "tests/host/mirrowctl_run_win.h"

namespace mirrow::host::testing {
namespace {

using guard::testing::Counter;
using guard::testing::PipedProcess;
using guard::testing::read_file;
using guard::testing::write_file;
using guard::testing::target_arguments;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::Optional;

constexpr std::string_view kFrozen = R"({"state":"frozen"})";
constexpr std::string_view kRecovered = R"({"state":"resumed","reason":"recovered","status":0})";


std::string utf8_of(const std::wstring& text) {
  std::string out(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), static_cast<int>(out.size()), nullptr, nullptr);
  out.pop_back();
  return out;
}

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class MirrowctlRecover : public ::testing::Test {
 protected:
  MirrowctlRecover() {
    const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", nullptr, 0);
    if (length > 0) {
      saved_local_app_data_.emplace(length, L'\0');
      saved_local_app_data_->resize(GetEnvironmentVariableW(L"LOCALAPPDATA", saved_local_app_data_->data(), length));
    }
    // mirrowctl inherits this process's environment.
    SetEnvironmentVariableW(L"LOCALAPPDATA", local_app_data_.c_str());
  }

  ~MirrowctlRecover() override {
    SetEnvironmentVariableW(L"LOCALAPPDATA", saved_local_app_data_ ? saved_local_app_data_->c_str() : nullptr);
    mirrow::testing::remove_tree(local_app_data_);
    mirrow::testing::remove_tree(children_);
  }

  std::wstring record_of(const Counter& counter, std::wstring_view suffix) const {
    return folder_ + L"\\" + std::to_wstring(counter.pid()) + L"-" + std::to_wstring(counter.created()) +
           std::wstring(suffix);
  }

  // A guard of the test build freezes the counter with its record in the
  // folder, as mirrowctl freeze keeps it.
  std::unique_ptr<PipedProcess> freeze_recorded(const Counter& counter) {
    CreateDirectoryW((local_app_data_ + L"\\Mirrow").c_str(), nullptr);
    CreateDirectoryW(folder_.c_str(), nullptr);
    write_file(record_of(counter, L".image"), utf8_of(counter.image_path()));
    auto guard = std::make_unique<PipedProcess>(guard::testing::beside_this_program(L"guard_confirming.exe"),
                                                target_arguments(counter, L"600", record_of(counter, L".jsonl")));
    EXPECT_THAT(guard->next_line(15000), Optional(std::string(kFrozen)));
    return guard;
  }

  // ... and is then killed from outside.
  void strand(const Counter& counter) {
    freeze_recorded(counter)->kill();
    ASSERT_TRUE(counter.stands_still());
  }

  std::wstring local_app_data_ = mirrow::testing::fresh_temp_directory(L"mirrowctl-local");
  std::wstring folder_ = local_app_data_ + L"\\Mirrow\\freezes";
  std::wstring children_ = mirrow::testing::fresh_temp_directory(L"mirrowctl-recover");
  std::wstring helper_ = guard::testing::beside_this_program(L"guard_test_child.exe");

 private:
  std::optional<std::wstring> saved_local_app_data_;
};

TEST_F(MirrowctlRecover, a_dry_run_lists_the_stranded_process_and_resumes_nothing_then_recover_resumes_it) {
  Counter counter(children_, helper_);
  strand(counter);
  const std::string row_start = std::to_string(counter.pid()) + "  " + utf8_of(counter.image_path()) + "  ";

  const Outcome dry = run_mirrowctl({L"recover", L"--dry-run"});
  EXPECT_EQ(dry.exit_code, 0u) << dry.err;
  EXPECT_THAT(dry.out, AllOf(HasSubstr("PID  IMAGE"), HasSubstr(row_start + "frozen, would be resumed (dry run)\n"),
                             HasSubstr("1 journals in " + utf8_of(folder_) + "\n")));
  EXPECT_TRUE(counter.stands_still());
  EXPECT_EQ(read_file(record_of(counter, L".jsonl")), std::string(kFrozen) + "\n");

  const Outcome recovered = run_mirrowctl({L"recover"});
  EXPECT_EQ(recovered.exit_code, 0u) << recovered.err;
  EXPECT_THAT(recovered.out, HasSubstr(row_start + "resumed\n"));
  EXPECT_TRUE(counter.runs());
  EXPECT_EQ(read_file(record_of(counter, L".jsonl")),
            std::string(kFrozen) + "\n" + std::string(kRecovered) + "\n");
  // Nothing is deleted.
  EXPECT_TRUE(exists(record_of(counter, L".image")));

  const Outcome again = run_mirrowctl({L"recover"});
  EXPECT_EQ(again.exit_code, 0u);
  EXPECT_EQ(again.out, "no process was left frozen: 1 journals in " + utf8_of(folder_) + "\n");
}

TEST_F(MirrowctlRecover, json_gives_one_object_per_target_with_its_outcome) {
  Counter counter(children_, helper_);
  strand(counter);
  const Outcome outcome = run_mirrowctl({L"recover", L"--json"});
  EXPECT_EQ(outcome.exit_code, 0u) << outcome.err;
  const auto line = parse_json(outcome.out);
  ASSERT_TRUE(line) << outcome.out;
  EXPECT_EQ((*line)["pid"].as_u64(), counter.pid());
  EXPECT_EQ((*line)["created"].as_u64(), counter.created());
  EXPECT_EQ((*line)["outcome"].as_text(), u"resumed");
  EXPECT_EQ((*line)["status"].as_i64(), 0);
  EXPECT_TRUE(counter.runs());
}

TEST_F(MirrowctlRecover, a_live_guard_is_left_alone_and_an_ended_process_is_abandoned_without_failing) {
  Counter held(children_, helper_);
  const auto live_guard = freeze_recorded(held);

  std::wstring gone_journal;
  {
    Counter gone(children_, helper_);
    strand(gone);
    gone_journal = record_of(gone, L".jsonl");
  }  // the counter is killed here

  const Outcome outcome = run_mirrowctl({L"recover"});
  EXPECT_EQ(outcome.exit_code, 0u) << outcome.out << outcome.err;
  EXPECT_THAT(outcome.out, AllOf(HasSubstr("guard running (left alone)\n"), HasSubstr("abandoned (the process is gone)\n"),
                                 HasSubstr("2 journals in ")));
  EXPECT_TRUE(held.stands_still());
  EXPECT_THAT(read_file(gone_journal), HasSubstr(R"({"state":"abandoned","reason":"target_gone"})"));

  live_guard->send("R");
  EXPECT_THAT(live_guard->exit_code(5000), Optional(0u));
  EXPECT_TRUE(held.runs());
}

TEST_F(MirrowctlRecover, a_journal_without_its_image_file_cannot_be_recovered_and_fails) {
  Counter counter(children_, helper_);
  strand(counter);
  DeleteFileW(record_of(counter, L".image").c_str());
  const Outcome outcome = run_mirrowctl({L"recover"});
  EXPECT_EQ(outcome.exit_code, 1u);
  EXPECT_THAT(outcome.out, HasSubstr("FAILED: no image path recorded beside the journal\n"));
  EXPECT_TRUE(counter.stands_still());
  // Put right by hand, the record is recovered.
  write_file(record_of(counter, L".image"), utf8_of(counter.image_path()));
  EXPECT_EQ(run_mirrowctl({L"recover"}).exit_code, 0u);
  EXPECT_TRUE(counter.runs());
}

TEST_F(MirrowctlRecover, without_a_freezes_folder_there_is_nothing_to_recover) {
  const Outcome outcome = run_mirrowctl({L"recover"});
  EXPECT_EQ(outcome.exit_code, 0u) << outcome.err;
  EXPECT_EQ(outcome.out, "no process was left frozen: 0 journals in " + utf8_of(folder_) + "\n");
  EXPECT_FALSE(exists(folder_));
}

TEST_F(MirrowctlRecover, a_freeze_of_a_target_whose_record_ends_frozen_runs_the_recovery_first) {
  Counter counter(children_, helper_);
  strand(counter);
  const Outcome outcome = run_mirrowctl({L"freeze", std::to_wstring(counter.pid()), L"--lease", L"5"});
  EXPECT_THAT(outcome.out, HasSubstr("unfinished freeze of this process; running the recovery first\nrecovery: resumed\n"))
      << outcome.err;
  EXPECT_TRUE(counter.runs());
  EXPECT_THAT(read_file(record_of(counter, L".jsonl")),
              ::testing::StartsWith(std::string(kFrozen) + "\n" + std::string(kRecovered) + "\n"));
  // The record is written anew, with the image path as a JSON string.
  const std::string image = read_file(record_of(counter, L".image"));
  EXPECT_TRUE(image.starts_with('"')) << image;
  const std::wstring& path = counter.image_path();
  EXPECT_THAT(image_path_of_record(image), Optional(std::u16string(path.begin(), path.end())));
}

TEST_F(MirrowctlRecover, a_refused_freeze_without_a_journal_option_leaves_no_record_behind) {
  Counter counter(children_, helper_);
  const Outcome outcome = run_mirrowctl({L"freeze", std::to_wstring(counter.pid()), L"--lease", L"5"});
  EXPECT_EQ(outcome.exit_code, 1u);
  EXPECT_THAT(outcome.out, HasSubstr("guard: refused: "));
  EXPECT_THAT(outcome.err, Not(HasSubstr("no journal")));
  EXPECT_TRUE(exists(folder_));
  EXPECT_FALSE(exists(record_of(counter, L".image")));
  EXPECT_FALSE(exists(record_of(counter, L".jsonl")));
}

}  // namespace
}  // namespace mirrow::host::testing
