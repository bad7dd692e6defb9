#include "scanner/scan_batch.h"

#include <gtest/gtest.h>

#include "common/file_time.h"

namespace mirrow {
namespace {

constexpr std::int64_t file_time_of(std::int64_t unix_seconds, std::int64_t hundred_ns = 0) {
  return filetime_unix_epoch + unix_seconds * filetime_units_per_second + hundred_ns;
}

std::string batch_with(std::u16string_view path, std::uint64_t size, std::int64_t write_time,
                       std::int64_t creation_time) {
  std::string out;
  begin_scan_batch(out);
  append_file_record(out, true, path, size, write_time, creation_time);
  append_scan_batch_tail(out, {}, {}, {});
  return out;
}

std::string record_text(std::u16string_view path, std::uint64_t size = 0, std::int64_t write_time = file_time_of(0),
                        std::int64_t creation_time = file_time_of(0)) {
  const std::string batch = batch_with(path, size, write_time, creation_time);
  const std::size_t begin = batch.find('[') + 1;
  return batch.substr(begin, batch.find("]]") + 2 - begin);
}

TEST(ScanBatch, an_empty_batch_of_a_finished_walk_is_exactly_the_fixed_text) {
  std::string out = "left over";
  begin_scan_batch(out);
  append_scan_batch_tail(out, {0, 0, 0, true}, {}, {});
  EXPECT_EQ(out, R"({"records":[],"errors":0,"files":0,"bytes":0,"done":true,"samples":[],"skipped":[]})");
}

TEST(ScanBatch, records_are_separated_by_commas_and_totals_follow_in_fixed_order) {
  std::string out;
  begin_scan_batch(out);
  append_file_record(out, true, u"c:\\a", 1, file_time_of(1), file_time_of(2));
  append_file_record(out, false, u"c:\\b", 18446744073709551615ull, file_time_of(3), file_time_of(4));
  append_scan_batch_tail(out, {3, 1300, 5000000000ull, false}, {u"c:\\x: FindFirstFile: 5", u"c:\\y: z"},
                         {u"c:\\link"});
  EXPECT_EQ(out,
            R"({"records":[["c:\\a",[1,1,2]],["c:\\b",[18446744073709551615,3,4]]],"errors":3,"files":1300,)"
            R"("bytes":5000000000,"done":false,"samples":["c:\\x: FindFirstFile: 5","c:\\y: z"],)"
            R"("skipped":["c:\\link"]})");
}

TEST(ScanBatch, paths_escape_back_slashes_and_everything_outside_printable_ascii) {
  EXPECT_EQ(record_text(u"c:\\data\\\u00fcn\u00ef.txt", 1024), R"(["c:\\data\\\u00fcn\u00ef.txt",[1024,0,0]])");
  EXPECT_EQ(record_text(u"c:\\a\u007fb"), R"(["c:\\a\u007fb",[0,0,0]])");
  EXPECT_EQ(record_text(u"c:\\\U0001F600"), R"(["c:\\\ud83d\ude00",[0,0,0]])");
  EXPECT_EQ(record_text(u"c:\\quote\"tab\t"), R"(["c:\\quote\"tab\u0009",[0,0,0]])");
}

TEST(ScanBatch, times_are_unix_seconds_with_seventeen_significant_digits) {
  EXPECT_EQ(record_text(u"f", 0, file_time_of(1700000000), file_time_of(1700000000, 1234567)),
            R"(["f",[0,1700000000,1700000000.1234567]])");
  EXPECT_EQ(record_text(u"f", 0, 0, file_time_of(-1, -5000000)), R"(["f",[0,-11644473600,-1.5]])");
}

TEST(ScanBatch, a_record_written_from_its_quoted_folder_is_the_record_of_its_whole_path) {
  struct Case {
    std::u16string folder, name;
  };
  const Case cases[] = {
      {u"c:\\", u"a"},  // a drive root ends with its separator
      {u"c:\\data", u"x.txt"},
      {u"c:\\data\\deeper\\still", u"a long name past eight units.txt"},
      {u"c:\\qu\"ote", u"t\u00e4b\t\"and\"\U0001F600"},  // escapes on both sides of the join
      {u"c:\\\u00fcber", u"\u0001"},
  };
  for (const Case& c : cases) {
    const std::u16string whole = c.folder + (c.folder.ends_with(u'\\') ? u"" : u"\\") + c.name;
    std::string quoted_folder;
    quote_folder(quoted_folder, c.folder);
    for (const bool first : {true, false}) {
      std::string expected = "head";
      std::string actual = "head";
      append_file_record(expected, first, whole, 77, file_time_of(1700000000, 1234567), file_time_of(5));
      append_file_record_in(actual, first, quoted_folder, c.name, 77, file_time_of(1700000000, 1234567),
                            file_time_of(5));
      EXPECT_EQ(actual, expected);
    }
  }
}

}  // namespace
}  // namespace mirrow
