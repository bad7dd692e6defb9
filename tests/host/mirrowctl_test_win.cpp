// The shipped mirrowctl.exe under Wine, each subcommand run the way a user
// runs it, against the real libraries and guard beside it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "common/utf16.h"
#include "host/json_value.h"
#include "host/system_facts_win.h"
#include "support/child_process_win.h"
#include "support/event_payloads.h"
#include "support/trace_file_builder.h"
#include "support/trace_fixture.h"
#include "tests/host/mirrowctl_run_win.h"

namespace mirrow::host::testing {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

std::string narrow(const std::wstring& text) {
  std::string out;
  for (const wchar_t c : text) out.push_back(static_cast<char>(c < 0x80 ? c : '?'));
  return out;
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return text;
}

// The output line whose first column is `pid`.
std::string row_of(const std::string& table, DWORD pid) {
  std::istringstream lines(table);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream columns(line);
    std::string first;
    columns >> first;
    if (first == std::to_string(pid)) return line;
  }
  return {};
}

class MirrowctlTest : public ::testing::Test {
 protected:
  ~MirrowctlTest() override { remove_tree(directory_); }
  std::wstring directory_ = fresh_temp_directory(L"mirrowctl-test");
};

TEST_F(MirrowctlTest, scan_totals_equal_the_tree_the_test_built_and_name_its_largest_folder_and_file) {
  CreateDirectoryW((directory_ + L"\\big").c_str(), nullptr);
  CreateDirectoryW((directory_ + L"\\big\\deeper").c_str(), nullptr);
  CreateDirectoryW((directory_ + L"\\small").c_str(), nullptr);
  make_file(directory_ + L"\\big\\deeper\\huge.bin", 30000);
  make_file(directory_ + L"\\big\\mid.bin", 2000);
  make_file(directory_ + L"\\small\\tiny.txt", 100);
  make_file(directory_ + L"\\top.txt", 7);

  const Outcome text = run_mirrowctl({L"scan", directory_, L"--top", L"2"});
  EXPECT_EQ(text.exit_code, 0u) << text.err;
  EXPECT_THAT(text.out, HasSubstr("files:   4\n"));
  EXPECT_THAT(text.out, HasSubstr("bytes:   32,107 (31.4 KiB)\n"));
  EXPECT_THAT(text.out, HasSubstr("errors:  0\n"));
  const std::string big = lower(narrow(directory_)) + "\\big";
  EXPECT_THAT(text.out, HasSubstr("31.2 KiB  32,000      2  " + big + "\n"));
  EXPECT_THAT(text.out, HasSubstr("29.3 KiB  30,000  " + big + "\\deeper\\huge.bin\n"));
  EXPECT_THAT(text.err, HasSubstr("scanning: 4 files, 31.4 KiB"));

  const Outcome json = run_mirrowctl({L"scan", directory_, L"--exclude", directory_ + L"\\big", L"--json"});
  const auto summary = parse_json(json.out);
  ASSERT_TRUE(summary) << json.out;
  EXPECT_EQ((*summary)["files"].as_u64(), 2u);
  EXPECT_EQ((*summary)["bytes"].as_u64(), 107u);
}

TEST_F(MirrowctlTest, watch_shows_the_files_the_test_made_while_it_ran_then_the_engine_figures) {
  Mirrowctl watch({L"watch", directory_, L"--seconds", L"5"});
  ASSERT_TRUE(watch.started());
  Sleep(2000);
  make_file(directory_ + L"\\made-one.txt", 10);
  make_file(directory_ + L"\\made-two.txt", 20);
  const Outcome outcome = watch.finish(30000);
  EXPECT_EQ(outcome.exit_code, 0u) << outcome.err;
  const std::string prefix = lower(narrow(directory_));
  EXPECT_THAT(outcome.out, HasSubstr("added               0  " + prefix + "\\made-one.txt  ×"));
  EXPECT_THAT(outcome.out, HasSubstr(prefix + "\\made-two.txt  ×"));
  EXPECT_THAT(outcome.out, AllOf(HasSubstr("watch_notifications"), HasSubstr("io_total")));
}

TEST_F(MirrowctlTest, watch_with_json_prints_raw_drain_batches_and_ends_with_the_engine_figures) {
  Mirrowctl watch({L"watch", directory_, L"--seconds", L"3", L"--json"});
  ASSERT_TRUE(watch.started());
  Sleep(1500);
  make_file(directory_ + L"\\raw.txt", 1);
  const Outcome outcome = watch.finish(30000);
  EXPECT_EQ(outcome.exit_code, 0u) << outcome.err;
  std::istringstream lines(outcome.out);
  std::vector<JsonValue> documents;
  for (std::string line; std::getline(lines, line);) {
    auto document = parse_json(line);
    ASSERT_TRUE(document) << line;
    documents.push_back(std::move(*document));
  }
  ASSERT_GE(documents.size(), 2u);
  EXPECT_TRUE(documents.front().is_array());
  EXPECT_EQ(documents.front()[0].items.size(), 8u);
  EXPECT_EQ(documents.back()["statistics"]["watchers_healthy"].as_u64(), 1u);
  EXPECT_TRUE(documents.back()["diagnostics"].is_object());
}

TEST_F(MirrowctlTest, watch_prints_every_record_when_long_paths_end_batches_by_size_before_the_stop) {
  // Paths of some 2,000 characters make the engine end a batch by its size
  // after a few hundred records, short of its record count, while more wait.
  std::wstring deep = L"\\\\?\\" + directory_;
  for (wchar_t letter = L'a'; letter < L'a' + 8; ++letter) {
    deep += L"\\" + std::wstring(240, letter);
    ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
  }
  const auto cleanup = [&] { remove_tree(L"\\\\?\\" + directory_); };
  constexpr int kFiles = 1200;
  Mirrowctl watch({L"watch", deep.substr(4), L"--seconds", L"4"});
  ASSERT_TRUE(watch.started());
  Sleep(1500);
  const ULONGLONG making = GetTickCount64();
  for (int i = 0; i < kFiles; ++i) make_file(deep + L"\\f" + std::to_wstring(i), 1);
  const ULONGLONG made_in = GetTickCount64() - making;
  const Outcome outcome = watch.finish(60000);
  cleanup();
  EXPECT_EQ(outcome.exit_code, 0u) << outcome.err;
  int shown = 0;
  for (int i = 0; i < kFiles; ++i) shown += outcome.out.find("\\f" + std::to_string(i) + "  \xC3\x97") != std::string::npos;
  EXPECT_EQ(shown, kFiles) << "files made in " << made_in << " ms";
}

TEST_F(MirrowctlTest, watch_with_capture_goes_on_with_the_watchers_when_tracing_is_refused) {
  const Outcome outcome = run_mirrowctl({L"watch", directory_, L"--seconds", L"1", L"--capture"});
  EXPECT_EQ(outcome.exit_code, 0u) << outcome.err;
  EXPECT_THAT(outcome.err, HasSubstr("going on with the directory watchers"));
  EXPECT_THAT(outcome.out, HasSubstr("watchers_healthy"));
}

TEST_F(MirrowctlTest, watch_of_a_directory_that_does_not_exist_fails_with_a_message) {
  const Outcome outcome = run_mirrowctl({L"watch", directory_ + L"\\absent", L"--seconds", L"1"});
  EXPECT_EQ(outcome.exit_code, 1u);
  EXPECT_THAT(outcome.err, HasSubstr("mirrowctl: the engine could not start"));
}

TEST_F(MirrowctlTest, ps_lists_this_test_process_with_its_verdict_in_readable_text) {
  const Outcome outcome = run_mirrowctl({L"ps"});
  EXPECT_EQ(outcome.exit_code, 0u) << outcome.err;
  const std::string row = row_of(outcome.out, GetCurrentProcessId());
  ASSERT_FALSE(row.empty()) << outcome.out;
  EXPECT_THAT(row, HasSubstr("host_end_to_end_tests.exe"));
  // The verdict is Cyrillic text in UTF-8, never \u escapes.
  EXPECT_THAT(row, AllOf(HasSubstr("\xD0"), Not(HasSubstr("\\u"))));

  const Outcome json = run_mirrowctl({L"ps", L"--json"});
  const auto report = parse_json(json.out);
  ASSERT_TRUE(report);
  EXPECT_TRUE((*report)["processes"].is_array());
}

TEST_F(MirrowctlTest, mem_load_and_crashes_print_their_reports_as_tables_or_raw_json) {
  const Outcome memory = run_mirrowctl({L"mem"});
  EXPECT_EQ(memory.exit_code, 0u) << memory.err;
  EXPECT_THAT(memory.out, AllOf(HasSubstr("WORKING SET"), HasSubstr("mirrowctl.exe")));

  const Outcome load = run_mirrowctl({L"load", L"--samples", L"2"});
  EXPECT_EQ(load.exit_code, 0u) << load.err;
  EXPECT_THAT(load.out, HasSubstr("CPU load: measuring (first sample), "));
  const std::size_t second = load.out.find("\nCPU load: ");
  ASSERT_NE(second, std::string::npos) << load.out;
  EXPECT_THAT(load.out.substr(second), HasSubstr(" processes\n"));

  const Outcome crashes = run_mirrowctl({L"crashes"});
  EXPECT_EQ(crashes.exit_code, 0u) << crashes.err;
  EXPECT_FALSE(crashes.out.empty());
  const Outcome raw = run_mirrowctl({L"crashes", L"--json"});
  const auto events = parse_json(raw.out);
  ASSERT_TRUE(events) << raw.out;
  EXPECT_TRUE(events->is_array());
}

TEST_F(MirrowctlTest, freeze_reports_the_guard_refusal_readably_and_fails) {
  const std::wstring journal = directory_ + L"\\journal.txt";
  const Outcome outcome =
      run_mirrowctl({L"freeze", std::to_wstring(GetCurrentProcessId()), L"--lease", L"5", L"--journal", journal});
  EXPECT_EQ(outcome.exit_code, 1u) << outcome.err;
  // The Cyrillic reason arrives as UTF-8 text, not as escapes.
  EXPECT_THAT(outcome.out, AllOf(HasSubstr("guard: refused: \xD0"), Not(HasSubstr("\\u"))));
  EXPECT_THAT(outcome.out, Not(HasSubstr("guard: guard:")));
  EXPECT_THAT(outcome.out, HasSubstr("result: the guard refused to freeze this process (exit code 3)\n"));
}

TEST_F(MirrowctlTest, freeze_of_a_process_that_does_not_exist_never_starts_the_guard) {
  const Outcome outcome = run_mirrowctl({L"freeze", L"4000000000", L"--lease", L"5"});
  EXPECT_EQ(outcome.exit_code, 1u);
  EXPECT_THAT(outcome.err, HasSubstr("mirrowctl: no process with id 4000000000"));
  EXPECT_THAT(outcome.out, Not(HasSubstr("guard:")));
}

TEST_F(MirrowctlTest, selftest_runs_the_guard_self_test_and_passes) {
  const Outcome outcome = run_mirrowctl({L"selftest"});
  EXPECT_EQ(outcome.exit_code, 0u) << outcome.out << outcome.err;
  EXPECT_THAT(outcome.out, HasSubstr("guard: self-test passed: lease 0, owner exit 0, requested 0, heartbeat 0\n"));
  EXPECT_THAT(outcome.out, HasSubstr("result: passed (exit code 0)\n"));
  EXPECT_THAT(outcome.out, Not(HasSubstr("guard: guard:")));
}

TEST_F(MirrowctlTest, check_gives_every_area_a_line_passes_what_this_machine_can_do_and_adds_its_diagnostics) {
  const char* const areas[] = {"watcher",      "trace sessions",        "capture and attribution",
                               "startup names", "session clean-up",     "scanner",
                               "snapshot and verdicts", "memory",       "load",
                               "crash events",  "guard self-test"};
  const Outcome text = run_mirrowctl({L"check", L"--diagnostics"}, 180000);
  EXPECT_EQ(text.exit_code, 0u) << text.out << text.err;
  for (const char* area : areas) EXPECT_THAT(text.out, HasSubstr("\n" + std::string(area) + "  ")) << area;
  EXPECT_THAT(text.out, HasSubstr("watcher                  passed"));
  EXPECT_THAT(text.out, HasSubstr(" 0 failed, "));
  EXPECT_THAT(text.out, HasSubstr(" unavailable\ncapture diagnostics: "));
  if (running_under_wine()) {
    EXPECT_THAT(text.out, HasSubstr("capture and attribution  unavailable  no real-time tracing on Wine\n"));
    EXPECT_THAT(text.out, HasSubstr("\ncapture diagnostics: null\n"));
  }

  const Outcome json = run_mirrowctl({L"check", L"--json"}, 180000);
  EXPECT_EQ(json.exit_code, 0u) << json.err;
  const auto report = parse_json(json.out);
  ASSERT_TRUE(report) << json.out;
  const JsonValue& checks = (*report)["checks"];
  ASSERT_EQ(checks.items.size(), std::size(areas));
  for (std::size_t i = 0; i < std::size(areas); ++i) {
    EXPECT_EQ(checks[i]["area"].as_text(), utf16_from_utf8(areas[i]));
    EXPECT_NE(checks[i]["result"].as_text(), u"failed") << areas[i] << ": " << utf8_from_utf16(checks[i]["reason"].as_text());
  }
  EXPECT_EQ((*report)["failed"].as_u64(), 0u);
  for (const auto& member : report->members) EXPECT_NE(member.first, "capture_diagnostics") << "only --diagnostics adds it";
  if (running_under_wine()) {
    EXPECT_EQ(checks[2]["result"].as_text(), u"unavailable");
  }
}

TEST_F(MirrowctlTest, bad_arguments_give_a_message_the_usage_and_exit_code_two) {
  const Outcome missing = run_mirrowctl({L"scan"});
  EXPECT_EQ(missing.exit_code, 2u);
  EXPECT_THAT(missing.err, AllOf(HasSubstr("mirrowctl: scan takes exactly one directory\n"),
                                 HasSubstr("usage: mirrowctl scan DIR")));
  EXPECT_EQ(run_mirrowctl({L"frobnicate"}).exit_code, 2u);
  EXPECT_EQ(run_mirrowctl({}).exit_code, 2u);

  const Outcome help = run_mirrowctl({L"watch", L"--help"});
  EXPECT_EQ(help.exit_code, 0u);
  EXPECT_THAT(help.out, HasSubstr("usage: mirrowctl watch DIR..."));
}

TEST_F(MirrowctlTest, version_shows_the_project_version_of_every_file_beside_it_and_vt_abi) {
  const std::string version = std::to_string(MIRROW_VERSION_MAJOR) + "." + std::to_string(MIRROW_VERSION_MINOR) + "." +
                              std::to_string(MIRROW_VERSION_PATCH);
  const Outcome outcome = run_mirrowctl({L"--version"});
  EXPECT_EQ(outcome.exit_code, 0u) << outcome.out;
  EXPECT_THAT(
      outcome.out,
      AllOf(StartsWith("mirrowctl " + version + "\n"), HasSubstr("Vantrel.dll      " + version + "\n"),
            HasSubstr("Telvyn.dll       " + version + "\n"), HasSubstr("FreezeGuard.exe  " + version + "\n"),
            HasSubstr("vt_abi: 1\n"), HasSubstr("every file beside mirrowctl.exe is of version " + version + "\n")));
}

TEST_F(MirrowctlTest, version_says_plainly_which_file_beside_it_is_stale_or_missing) {
  // Telvyn.dll replaced by a program of no release, FreezeGuard.exe gone.
  for (const wchar_t* name : {L"mirrowctl.exe", L"Vantrel.dll"})
    ASSERT_TRUE(
        CopyFileW(mirrow::testing::beside_this_program(name).c_str(), (directory_ + L"\\" + name).c_str(), FALSE));
  ASSERT_TRUE(CopyFileW(mirrow::testing::beside_this_program(L"guard_test_child.exe").c_str(),
                        (directory_ + L"\\Telvyn.dll").c_str(), FALSE));
  Mirrowctl run({L"--version"}, directory_ + L"\\mirrowctl.exe");
  const Outcome outcome = run.finish(30000);
  EXPECT_EQ(outcome.exit_code, 3u) << outcome.out;
  EXPECT_THAT(outcome.out, AllOf(HasSubstr("Telvyn.dll       no version resource\n"), HasSubstr("vt_abi: 1\n"),
                                 HasSubstr("mismatch: Telvyn.dll has no version resource\n"),
                                 HasSubstr("mismatch: FreezeGuard.exe is missing beside mirrowctl.exe\n")));
}

TEST_F(MirrowctlTest, without_the_libraries_beside_it_each_subcommand_says_what_is_missing) {
  const std::wstring lonely = directory_ + L"\\mirrowctl.exe";
  ASSERT_TRUE(CopyFileW(mirrowctl_path().c_str(), lonely.c_str(), FALSE));
  for (const auto& [arguments, missing] :
       std::vector<std::pair<std::vector<std::wstring>, std::string>>{{{L"scan", directory_}, "Vantrel.dll"},
                                                                      {{L"ps"}, "Telvyn.dll"},
                                                                      {{L"selftest"}, "FreezeGuard.exe"}}) {
    Mirrowctl run(arguments, lonely);
    const Outcome outcome = run.finish(30000);
    EXPECT_EQ(outcome.exit_code, 3u) << missing;
    EXPECT_THAT(outcome.err, HasSubstr(missing + " must lie beside mirrowctl.exe"));
  }
}

TEST_F(MirrowctlTest, replay_of_the_recording_reports_its_figures_device_map_and_the_engine_counters) {
  const std::wstring fixture = mirrow::testing::trace_fixture_path().wstring();
  const Outcome text = run_mirrowctl({L"replay", fixture, L"--root", L"C:\\"});
  EXPECT_EQ(text.exit_code, 0u) << text.err;
  EXPECT_THAT(text.out, AllOf(HasSubstr(": 179474 events read, 0 skipped\n"),
                              HasSubstr("device map from the recording: \\device\\harddiskvolume2 = c:"),
                              HasSubstr("events                  562\n"), HasSubstr("malformed                  0\n")));

  const Outcome json = run_mirrowctl({L"replay", fixture, L"--json"});
  EXPECT_EQ(json.exit_code, 0u) << json.err;
  const auto parsed = parse_json(json.out);
  ASSERT_TRUE(parsed) << json.out;
  std::vector<std::string> members;
  for (const auto& [key, value] : parsed->members) members.push_back(key);
  EXPECT_THAT(members, ::testing::ElementsAre("file", "events_read", "events_skipped", "device_map", "activity",
                                              "statistics", "diagnostics"));
  EXPECT_EQ((*parsed)["events_read"].as_u64(), 179474u);
  EXPECT_EQ((*parsed)["statistics"]["events"].as_u64(), 562u);
  EXPECT_EQ((*parsed)["diagnostics"]["classic_names"].as_u64(), 3084u);
}

TEST_F(MirrowctlTest, replay_prints_a_recordings_activity_as_watch_does) {
  mirrow::testing::TraceFileBuilder builder;
  builder.perfinfo(4, 0, mirrow::testing::TraceFileBuilder::start_clock + 1,
                   mirrow::test::name_event(8, 0xA0, u"\\Device\\HarddiskVolume5\\Data\\Report.txt"));
  builder.event(16, 1, 4100, mirrow::testing::TraceFileBuilder::start_clock + 2, mirrow::test::io_event(8, 1, 0xB0, 0xA0));
  const std::vector<std::uint8_t> bytes = builder.bytes();
  const std::wstring file = directory_ + L"\\made.etl";
  guard::testing::write_file(file, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  const Outcome outcome =
      run_mirrowctl({L"replay", file, L"--root", L"E:\\Data", L"--device", L"\\Device\\HarddiskVolume5=E:"});
  EXPECT_EQ(outcome.exit_code, 0u) << outcome.err;
  EXPECT_THAT(outcome.out, AllOf(HasSubstr("device map from --device: \\device\\harddiskvolume5 = e:"),
                                 HasSubstr("4100  e:\\data\\report.txt  \xc3\x97""1")));
}

TEST_F(MirrowctlTest, replay_of_what_is_no_trace_and_record_under_wine_fail_saying_why) {
  const Outcome missing = run_mirrowctl({L"replay", directory_ + L"\\missing.etl"});
  EXPECT_EQ(missing.exit_code, 1u);
  EXPECT_THAT(missing.err, HasSubstr("missing.etl: no such file"));
  guard::testing::write_file(directory_ + L"\\notes.txt", "nothing of a trace");
  const Outcome junk = run_mirrowctl({L"replay", directory_ + L"\\notes.txt"});
  EXPECT_EQ(junk.exit_code, 1u);
  EXPECT_THAT(junk.err, HasSubstr("notes.txt: not a trace file"));
  if (running_under_wine()) {
    const Outcome record = run_mirrowctl({L"record", directory_ + L"\\r.etl", L"--seconds", L"1"});
    EXPECT_EQ(record.exit_code, 1u);
    EXPECT_THAT(record.err, HasSubstr("Wine does not have"));
  }
}

}  // namespace
}  // namespace mirrow::host::testing
