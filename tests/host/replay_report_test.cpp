// mirrowctl replay and record: their command lines, and what replay makes
// of vt_replay_file's report.
#include "host/replay_report.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host/command_line.h"
#include "host/json_value.h"

namespace mirrow::host {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr std::string_view kReport =
    R"({"file":"C:\\traces\\a.etl","events_read":120,"events_skipped":2,"buffers":3,"compressed_buffers":2,)"
    R"("decompressed_bytes":196608,"file_bytes":40000,"skipped":[{"buffer_offset":65536,"record_offset":72,)"
    R"("what":"a record of size 0"}],"device_map":{"source":"recording","entries":[{"device":"\\device\\harddiskvolume2",)"
    R"("drive":"c:"},{"device":"\\device\\cdrom0","drive":"d:"}]}})";

TEST(ReplayCommandLine, takes_one_file_with_repeated_roots_exclusions_missing_paths_and_devices) {
  const auto parsed = parse_command_line({u"replay", u"a.etl", u"--root", u"C:\\Data", u"--root", u"D:\\", u"--exclude",
                                          u"C:\\Data\\tmp", u"--missing", u"C:\\Data\\x.cfg", u"--device",
                                          u"\\Device\\HarddiskVolume2=C:", u"--json"});
  ASSERT_TRUE(std::holds_alternative<Request>(parsed));
  const Request& r = std::get<Request>(parsed);
  EXPECT_EQ(r.command, Subcommand::replay);
  EXPECT_EQ(r.trace_file, u"a.etl");
  EXPECT_THAT(r.roots, ElementsAre(u"C:\\Data", u"D:\\"));
  EXPECT_THAT(r.exclusions, ElementsAre(u"C:\\Data\\tmp"));
  EXPECT_THAT(r.missing, ElementsAre(u"C:\\Data\\x.cfg"));
  EXPECT_THAT(r.devices, ElementsAre(u"\\Device\\HarddiskVolume2=C:"));
  EXPECT_TRUE(r.json);
}

TEST(ReplayCommandLine, record_needs_seconds_and_each_takes_exactly_one_file) {
  const auto record = parse_command_line({u"record", u"b.etl", u"--seconds", u"30", u"--missing", u"C:\\x"});
  ASSERT_TRUE(std::holds_alternative<Request>(record));
  EXPECT_EQ(std::get<Request>(record).seconds, 30u);
  const auto message = [](std::vector<std::u16string> arguments) {
    const auto parsed = parse_command_line(arguments);
    return std::holds_alternative<UsageError>(parsed) ? std::get<UsageError>(parsed).message : std::string("accepted");
  };
  EXPECT_EQ(message({u"record", u"b.etl"}), "record needs --seconds N");
  EXPECT_EQ(message({u"replay"}), "replay takes exactly one trace file");
  EXPECT_EQ(message({u"replay", u"a.etl", u"b.etl"}), "replay takes exactly one trace file");
  EXPECT_EQ(message({u"replay", u"a.etl", u"--device", u"C:"}),
            "--device takes DEVICE=DRIVE, such as \\Device\\HarddiskVolume2=C:, not \"C:\"");
  EXPECT_EQ(message({u"replay", u"a.etl", u"--device", u"=C:"}).substr(0, 8), "--device");
  EXPECT_EQ(message({u"record", u"b.etl", u"--seconds", u"1", u"--json"}), "--json is not an option of record");
  EXPECT_EQ(message({u"watch", u"C:\\", u"--root", u"D:\\"}), "--root is not an option of watch");
  EXPECT_THAT(usage_text(Subcommand::none), HasSubstr("  replay FILE "));
  EXPECT_THAT(usage_text(Subcommand::replay), HasSubstr("usage: mirrowctl replay FILE.etl"));
}

TEST(ReplayReport, the_summary_names_the_figures_the_device_map_and_what_was_skipped) {
  EXPECT_EQ(replay_summary_text(kReport),
            "replayed C:\\traces\\a.etl: 120 events read, 2 skipped\n"
            "device map from the recording: \\device\\harddiskvolume2 = c:, \\device\\cdrom0 = d:\n"
            "  skipped at byte 65536 (+72): a record of size 0\n");
  EXPECT_THAT(replay_summary_text(R"({"file":"x","events_read":0,"events_skipped":0,"device_map":{"source":"local","entries":[]}})"),
              HasSubstr("device map of this machine (the recording holds none): none\n"));
  EXPECT_EQ(replay_problem(R"({"file":"x","problem":"not a trace file: it holds no buffer"})"),
            "not a trace file: it holds no buffer");
  EXPECT_EQ(replay_problem(kReport), "");
}

TEST(ReplayReport, json_holds_the_figures_every_drained_record_and_the_engine_documents) {
  Statistics statistics{};
  statistics[0] = 120;
  const std::string json = replay_json(kReport, {R"([[1.5,1,"c:\\a",1,7,"",1,0]])", "[]", R"([[2.5,1,"c:\\b",2,8,"",3,0]])"},
                                       statistics, R"({"io_total":4})");
  const auto parsed = parse_json(json);
  ASSERT_TRUE(parsed) << json;
  const JsonValue& v = *parsed;
  EXPECT_EQ(v.members.size(), 7u);
  EXPECT_EQ(v["file"].as_text(), u"C:\\traces\\a.etl");
  EXPECT_EQ(v["events_read"].as_u64(), 120u);
  EXPECT_EQ(v["events_skipped"].as_u64(), 2u);
  EXPECT_EQ(v["device_map"]["source"].as_text(), u"recording");
  EXPECT_EQ(v["device_map"]["entries"].items.size(), 2u);
  ASSERT_EQ(v["activity"].items.size(), 2u);
  EXPECT_EQ(v["activity"][1][2].as_text(), u"c:\\b");
  EXPECT_EQ(v["statistics"]["events"].as_u64(), 120u);
  EXPECT_EQ(v["diagnostics"]["io_total"].as_u64(), 4u);
  EXPECT_THAT(replay_json(kReport, {}, statistics, ""), HasSubstr("\"activity\":[],"));
  EXPECT_THAT(replay_json(kReport, {}, statistics, ""), HasSubstr("\"diagnostics\":null}"));
}

TEST(ReplayReport, device_options_go_to_the_library_one_per_line) {
  EXPECT_EQ(device_entries({u"\\Device\\A=C:", u"\\Device\\B=D:"}), u"\\Device\\A=C:\n\\Device\\B=D:\n");
  EXPECT_EQ(device_entries({}), u"");
}

}  // namespace
}  // namespace mirrow::host
