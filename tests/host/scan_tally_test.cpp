#include "host/scan_tally.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host/scan_report.h"

namespace mirrow::host {
namespace {

using ::testing::HasSubstr;

std::string batch(std::string records, bool done, std::string tail = R"(,"samples":[],"skipped":[])") {
  return R"({"records":[)" + records + R"(],"errors":0,"files":0,"bytes":0,"done":)" + (done ? "true" : "false") +
         tail + "}";
}

TEST(ScanTally, folders_below_the_root_add_up_their_files_recursively_and_the_root_itself_is_not_listed) {
  ScanTally tally(u"C:\\Data", 10);
  ASSERT_TRUE(tally.add_batch(batch(R"(["c:\\data\\a\\x.bin",[100,1,1]],["c:\\data\\a\\b\\y.bin",[50,1,1]],)"
                                    R"(["c:\\data\\top.txt",[7,1,1]])",
                                    true)));
  const auto folders = tally.largest_folders();
  ASSERT_EQ(folders.size(), 2u);
  EXPECT_EQ(folders[0].path, u"c:\\data\\a");
  EXPECT_EQ(folders[0].bytes, 150u);
  EXPECT_EQ(folders[0].files, 2u);
  EXPECT_EQ(folders[1].path, u"c:\\data\\a\\b");
  EXPECT_EQ(folders[1].bytes, 50u);
  EXPECT_TRUE(tally.done());
}

TEST(ScanTally, a_drive_root_is_related_to_its_records_like_any_other_root) {
  ScanTally tally(u"C:\\", 10);
  ASSERT_TRUE(tally.add_batch(batch(R"(["c:\\a\\x",[5,1,1]],["c:\\y",[1,1,1]])", true)));
  ASSERT_EQ(tally.largest_folders().size(), 1u);
  EXPECT_EQ(tally.largest_folders()[0].path, u"c:\\a");
}

TEST(ScanTally, only_the_largest_files_are_kept_largest_first_across_batches) {
  ScanTally tally(u"c:\\d", 2);
  ASSERT_TRUE(tally.add_batch(batch(R"(["c:\\d\\1",[10,1,1]],["c:\\d\\2",[30,1,1]])", false)));
  ASSERT_TRUE(tally.add_batch(batch(R"(["c:\\d\\3",[20,1,1]],["c:\\d\\4",[5,1,1]])", true)));
  const auto files = tally.largest_files();
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].path, u"c:\\d\\2");
  EXPECT_EQ(files[1].path, u"c:\\d\\3");
}

TEST(ScanTally, totals_samples_and_skipped_paths_are_the_latest_batch_figures) {
  ScanTally tally(u"c:\\d", 5);
  ASSERT_TRUE(tally.add_batch(
      R"({"records":[],"errors":2,"files":1300,"bytes":4096,"done":true,"samples":["c:\\d\\x: FindFirstFile: 5"],"skipped":["c:\\d\\link"]})"));
  EXPECT_EQ(tally.files(), 1300u);
  EXPECT_EQ(tally.bytes(), 4096u);
  EXPECT_EQ(tally.errors(), 2u);
  ASSERT_EQ(tally.samples().size(), 1u);
  EXPECT_EQ(tally.skipped().front(), u"c:\\d\\link");
}

TEST(ScanTally, an_unreadable_batch_changes_nothing_and_a_malformed_record_is_passed_over) {
  ScanTally tally(u"c:\\d", 5);
  EXPECT_FALSE(tally.add_batch("{\"records\":[") );
  EXPECT_FALSE(tally.add_batch("[]"));
  ASSERT_TRUE(tally.add_batch(batch(R"(["c:\\d\\a\\x",["big",1,1]],[7],["c:\\d\\a\\y",[3,1,1]])", true)));
  ASSERT_EQ(tally.largest_files().size(), 1u);
  EXPECT_EQ(tally.largest_folders()[0].bytes, 3u);
}

TEST(ScanReport, the_summary_shows_totals_in_human_units_and_tables_of_the_largest) {
  ScanTally tally(u"c:\\d", 5);
  ASSERT_TRUE(tally.add_batch(
      R"({"records":[["c:\\d\\sub\\big.bin",[2097152,1,1]]],"errors":1,"files":1,"bytes":2097152,"done":true,"samples":["c:\\d\\locked: FindFirstFile: 5"],"skipped":["c:\\d\\\u0436"]})"));
  const std::string text = scan_summary_text(tally, 1500);
  EXPECT_THAT(text, HasSubstr("files:   1\n"));
  EXPECT_THAT(text, HasSubstr("bytes:   2,097,152 (2.0 MiB)\n"));
  EXPECT_THAT(text, HasSubstr("errors:  1\n"));
  EXPECT_THAT(text, HasSubstr("c:\\d\\locked: FindFirstFile: 5"));
  EXPECT_THAT(text, HasSubstr("c:\\d\\ж"));
  EXPECT_THAT(text, HasSubstr("largest folders:\n   SIZE      BYTES  FILES  PATH\n2.0 MiB  2,097,152      1  c:\\d\\sub\n"));
  EXPECT_THAT(text, HasSubstr("largest files:\n"));
}

TEST(ScanReport, the_json_summary_escapes_paths_and_carries_plain_numbers) {
  ScanTally tally(u"c:\\d", 5);
  ASSERT_TRUE(tally.add_batch(batch(R"(["c:\\d\\\u00e9\\f",[9,1,1]])", true)));
  EXPECT_EQ(scan_summary_json(tally, 12),
            R"({"root":"c:\\d","files":0,"bytes":0,"errors":0,"elapsed_ms":12,"samples":[],"skipped":[],)"
            R"("largest_folders":[{"path":"c:\\d\\\u00e9","bytes":9,"files":1}],)"
            R"("largest_files":[{"path":"c:\\d\\\u00e9\\f","bytes":9}]})"
            "\n");
  EXPECT_EQ(scan_progress_line(1234, 2048, 2300), "scanning: 1,234 files, 2.0 KiB, 2.3 s");
}

TEST(ScanReport, the_summary_says_which_way_the_scan_went_and_why_it_walked) {
  ScanTally tally(u"c:\\d", 5);
  ASSERT_TRUE(tally.add_batch(batch("", true)));
  const ScanWayFacts walked = parse_scan_way(R"({"way":"walk","reason":"not an NTFS volume"})");
  EXPECT_THAT(scan_summary_text(tally, 1, &walked), HasSubstr("  way:     walked the folders: not an NTFS volume\n"));
  EXPECT_THAT(scan_summary_json(tally, 1, &walked), HasSubstr(R"(,"way":"walk","reason":"not an NTFS volume"})"));
  EXPECT_EQ(scan_way_line(parse_scan_way(R"({"way":"table","reason":""})")), "the volume's master file table");
}

}  // namespace
}  // namespace mirrow::host
