// vt_replay_file, bound by name as a host binds it: the recording from a real
// machine and small files made here, each event handed to the record
// callback as the EVENT_RECORD that ProcessTrace would give it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "support/child_process_win.h"
#include "support/event_payloads.h"
#include "support/strict_json.h"
#include "support/temp_dir_win.h"
#include "support/trace_file_builder.h"
#include "support/trace_fixture.h"
#include "support/vantrel_api.h"

namespace mirrow::testing {
namespace {

using ::testing::HasSubstr;
using Bytes = std::vector<std::uint8_t>;

struct Replayed {
  uint32_t status = 0;
  std::string report;
};

Replayed replay_file(vt_engine* engine, const std::wstring& path, const wchar_t* devices = nullptr) {
  const char* text = nullptr;
  uint64_t length = 0;
  Replayed replayed;
  replayed.status = vantrel().vt_replay_file(engine, path.c_str(), devices, &text, &length);
  if (text != nullptr) replayed.report.assign(text, length);
  return replayed;
}

uint64_t diagnostic(vt_engine* engine, const std::string& key) {
  uint64_t length = 0;
  const char* text = vantrel().vt_diagnostics(engine, &length);
  const auto parsed = parse_strict_json(std::string(text, length));
  return parsed ? std::stoull((*parsed)[key].literal) : ~0ULL;
}

uint64_t events(vt_engine* engine) {
  uint64_t slots[13] = {};
  EXPECT_EQ(vantrel().vt_stats(engine, slots, 13), 0u);
  return slots[0];
}

std::string drain(vt_engine* engine) {
  uint64_t length = 0;
  const char* text = vantrel().vt_drain(engine, &length);
  return text ? std::string(text, length) : "<null>";
}

void write_bytes(const std::wstring& path, const Bytes& bytes) {
  guard::testing::write_file(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

TEST(ReplayFileExport, the_recording_goes_through_the_record_callback_with_nothing_malformed) {
  Engine engine;
  const Replayed replayed = replay_file(engine, trace_fixture_path().wstring());
  ASSERT_EQ(replayed.status, 0u) << replayed.report;
  const auto report = parse_strict_json(replayed.report);
  ASSERT_TRUE(report) << replayed.report;
  EXPECT_EQ((*report)["events_read"].literal, "179474");
  EXPECT_EQ((*report)["events_skipped"].literal, "0");
  EXPECT_EQ((*report)["device_map"]["source"].text, u"recording");
  EXPECT_EQ(diagnostic(engine, "malformed"), 0u);
  EXPECT_EQ(diagnostic(engine, "unsupported"), 0u);
  EXPECT_EQ(diagnostic(engine, "classic_names"), 3084u);
  EXPECT_EQ(events(engine), 562u);  // the Kernel-File events alone
}

TEST(ReplayFileExport, a_classic_name_and_a_read_of_a_file_made_here_are_attributed_with_this_machines_map) {
  // Under Wine, as on most machines, C: is \Device\HarddiskVolume1.
  TempDir folder(L"replay-file");
  Engine engine;
  ASSERT_EQ(vantrel().vt_root(engine, 1, L"C:\\Data", 1), 0u);
  TraceFileBuilder builder(4096, true);
  builder.perfinfo(4, 36, TraceFileBuilder::start_clock + 1,
                   mirrow::test::name_event(8, 0xA0, u"\\Device\\HarddiskVolume1\\Data\\Report.txt"));
  builder.event(15, 1, 4100, TraceFileBuilder::start_clock + 2, mirrow::test::io_event(8, 1, 0xB0, 0xA0));
  write_bytes(folder / L"made.etl", builder.bytes());
  const Replayed replayed = replay_file(engine, folder / L"made.etl");
  ASSERT_EQ(replayed.status, 0u) << replayed.report;
  EXPECT_THAT(replayed.report, HasSubstr("\"source\":\"local\""));
  EXPECT_THAT(drain(engine), HasSubstr("\"c:\\\\data\\\\report.txt\",1,4100,"));
}

TEST(ReplayFileExport, device_entries_replace_the_recordings_map) {
  TempDir folder(L"replay-file");
  Engine engine;
  ASSERT_EQ(vantrel().vt_root(engine, 1, L"D:\\Data", 1), 0u);
  TraceFileBuilder builder;
  builder.perfinfo(4, 0, TraceFileBuilder::start_clock + 1,
                   mirrow::test::name_event(8, 0xA0, u"\\Device\\HarddiskVolume7\\Data\\x.txt"));
  builder.event(16, 1, 4100, TraceFileBuilder::start_clock + 2, mirrow::test::io_event(8, 1, 0xB0, 0xA0));
  write_bytes(folder / L"made.etl", builder.bytes());
  const Replayed replayed = replay_file(engine, folder / L"made.etl", L"\\Device\\HarddiskVolume7=D:");
  ASSERT_EQ(replayed.status, 0u) << replayed.report;
  EXPECT_THAT(replayed.report, HasSubstr("\"source\":\"option\""));
  EXPECT_THAT(drain(engine), HasSubstr("\"d:\\\\data\\\\x.txt\",2,4100,"));
}

TEST(ReplayFileExport, refusals_say_why_and_touch_nothing) {
  TempDir folder(L"replay-file");
  Engine engine;
  const char* text = nullptr;
  uint64_t length = 7;
  EXPECT_EQ(vantrel().vt_replay_file(nullptr, L"x.etl", nullptr, &text, &length), 87u);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(vantrel().vt_replay_file(engine, nullptr, nullptr, nullptr, nullptr), 87u);
  EXPECT_EQ(replay_file(engine, folder / L"missing.etl").status, 2u);

  guard::testing::write_file(folder / L"notes.txt", "not a trace at all");
  const Replayed junk = replay_file(engine, folder / L"notes.txt");
  EXPECT_EQ(junk.status, 13u);
  EXPECT_THAT(junk.report, HasSubstr("\"problem\":\"not a trace file"));
  guard::testing::write_file(folder / L"empty.etl", "");
  EXPECT_EQ(replay_file(engine, folder / L"empty.etl").status, 13u);

  const Replayed bad_entry = replay_file(engine, trace_fixture_path().wstring(), L"C:=D:");
  EXPECT_EQ(bad_entry.status, 87u);
  EXPECT_THAT(bad_entry.report, HasSubstr("not a device entry"));

  ASSERT_EQ(vantrel().vt_root(engine, 1, folder.path().c_str(), 0), 0u);
  ASSERT_EQ(vantrel().vt_start(engine, 0, 0), 0u);
  const Replayed running = replay_file(engine, trace_fixture_path().wstring());
  EXPECT_EQ(running.status, 87u);
  EXPECT_THAT(running.report, HasSubstr("\"problem\":\"the engine is running\""));
  vantrel().vt_stop(engine);
  EXPECT_EQ(events(engine), 0u);
}

}  // namespace
}  // namespace mirrow::testing
