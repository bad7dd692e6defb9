#include "scanner/scanner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <new>

#include "scanner/ancestor_check.h"
#include "tests/scanner/batch_text.h"
#include "tests/scanner/scripted_tree.h"

namespace mirrow {
namespace {

using scan_test::is_done;
using scan_test::record_paths;
using scan_test::ScriptedTree;
using scan_test::steps_until_done;
using scan_test::value_of;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::u16string numbered(std::u16string_view stem, std::size_t number) {
  const std::string digits = std::to_string(number);
  return std::u16string(stem) + std::u16string(digits.begin(), digits.end());
}

std::vector<std::string> all_record_paths(const std::vector<std::string>& batches) {
  std::vector<std::string> paths;
  for (const std::string& batch : batches) {
    for (std::string& path : record_paths(batch)) paths.push_back(std::move(path));
  }
  return paths;
}

class ScannerWalk : public ::testing::Test {
 protected:
  ScannerWalk() { tree.add_directory(u"C:\\"); }
  ScriptedTree tree;
};

// ---- order ----

TEST_F(ScannerWalk, lists_a_directory_to_its_end_before_descending_and_opens_the_last_pushed_sibling_first) {
  tree.add_directory(u"C:\\Root");
  tree.add_directory(u"C:\\Root\\A");
  tree.add_file(u"C:\\Root\\A\\a.txt", 1);
  tree.add_directory(u"C:\\Root\\A\\Deep");
  tree.add_file(u"C:\\Root\\A\\Deep\\deep.txt", 2);
  tree.add_file(u"C:\\Root\\top.txt", 3);
  tree.add_directory(u"C:\\Root\\B");
  tree.add_file(u"C:\\Root\\B\\b.txt", 4);
  Scanner scanner(u"C:\\Root\\", tree.platform());
  const std::string batch = scanner.step();
  EXPECT_THAT(record_paths(batch), ElementsAre(R"(c:\\root\\top.txt)", R"(c:\\root\\b\\b.txt)",
                                               R"(c:\\root\\a\\a.txt)", R"(c:\\root\\a\\deep\\deep.txt)"));
  EXPECT_EQ(value_of(batch, "files"), "4");
  EXPECT_EQ(value_of(batch, "bytes"), "10");
  EXPECT_TRUE(is_done(batch));
  EXPECT_EQ(tree.open_listings, 0u);
}

TEST_F(ScannerWalk, a_drive_root_is_listed_with_a_pattern_after_its_own_back_slash) {
  tree.add_file(u"C:\\boot.ini", 5);
  Scanner scanner(u"C:/", tree.platform());
  EXPECT_THAT(record_paths(scanner.step()), ElementsAre(R"(c:\\boot.ini)"));
  EXPECT_THAT(tree.opened, ElementsAre(u"c:\\"));
}

// ---- bounds of one step ----

TEST_F(ScannerWalk, thirteen_hundred_files_come_in_batches_of_512_512_and_276_with_done_only_at_the_end) {
  tree.add_directory(u"C:\\Many");
  for (std::size_t i = 0; i < 1300; ++i) tree.add_file(numbered(u"C:\\Many\\f", i), 2);
  Scanner scanner(u"C:\\Many", tree.platform());
  const std::vector<std::string> batches = steps_until_done(scanner);
  ASSERT_EQ(batches.size(), 3u);
  const char* files[] = {"512", "1024", "1300"};
  const std::size_t records[] = {512, 512, 276};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(record_paths(batches[i]).size(), records[i]);
    EXPECT_EQ(value_of(batches[i], "files"), files[i]);
    EXPECT_EQ(is_done(batches[i]), i == 2);
  }
  EXPECT_EQ(value_of(batches[2], "bytes"), "2600");
  EXPECT_EQ(tree.opens, 1u) << "the listing stays open across steps instead of being read again";
}

TEST_F(ScannerWalk, a_step_that_reports_the_last_file_on_its_record_bound_already_says_done) {
  tree.add_directory(u"C:\\Exact");
  for (std::size_t i = 0; i < 512; ++i) tree.add_file(numbered(u"C:\\Exact\\f", i), 1);
  Scanner scanner(u"C:\\Exact", tree.platform());
  const std::string batch = scanner.step();
  EXPECT_EQ(record_paths(batch).size(), 512u);
  EXPECT_TRUE(is_done(batch));
}

TEST_F(ScannerWalk, one_step_examines_at_most_4096_entries) {
  tree.add_wide_directory(u"C:\\Wide", 5000);
  Scanner scanner(u"C:\\Wide", tree.platform());
  const std::string batch = scanner.step();
  EXPECT_EQ(tree.nexts, 4096u);
  EXPECT_FALSE(is_done(batch));
  EXPECT_THAT(record_paths(batch), IsEmpty());
}

TEST_F(ScannerWalk, a_step_stops_once_its_records_are_estimated_at_one_mebibyte) {
  // Each record is estimated at 6 * 2000 + 128 bytes: the 87th reaches 1 MiB.
  tree.add_directory(u"C:\\Long");
  const std::u16string name(1992, u'n');
  for (std::size_t i = 0; i < 100; ++i) tree.add_file(u"C:\\Long\\" + numbered(name.substr(0, 1989), 100 + i), 1);
  Scanner scanner(u"C:\\Long", tree.platform());
  EXPECT_EQ(record_paths(scanner.step()).size(), 87u);
  EXPECT_EQ(record_paths(scanner.step()).size(), 13u);
}

TEST_F(ScannerWalk, steps_after_the_walk_ended_repeat_the_totals_with_no_records) {
  tree.add_directory(u"C:\\Small");
  tree.add_file(u"C:\\Small\\x", 7);
  tree.add_directory(u"C:\\Small\\Gone");
  tree.make_unreadable(u"C:\\Small\\Gone");
  Scanner scanner(u"C:\\Small", tree.platform());
  const std::string first = scanner.step();
  const std::string later = scanner.step();
  EXPECT_TRUE(is_done(first));
  EXPECT_EQ(later, R"({"records":[],"errors":1,"files":1,"bytes":7,"done":true,)"
                   R"("samples":["c:\\small\\gone: unavailable, reparse or offline ancestor"],"skipped":[]})");
  EXPECT_EQ(scanner.step(), later);
}

// ---- exclusions ----

TEST_F(ScannerWalk, an_exclusion_hides_its_subtree_but_not_a_sibling_sharing_its_prefix) {
  tree.add_directory(u"C:\\Data");
  tree.add_file(u"C:\\Data\\x.txt", 1);
  tree.add_directory(u"C:\\Database");
  tree.add_file(u"C:\\Database\\y.txt", 1);
  tree.add_directory(u"C:\\Database\\Link", attribute_directory | attribute_reparse_point);
  Scanner scanner(u"C:\\", tree.platform());
  scanner.exclude(u"C:\\DATA\\");
  scanner.exclude(u"c:\\database\\link");
  const std::string batch = scanner.step();
  EXPECT_THAT(record_paths(batch), ElementsAre(R"(c:\\database\\y.txt)"));
  EXPECT_EQ(value_of(batch, "skipped"), "[]") << "an excluded link is not reported as skipped either";
  EXPECT_THAT(tree.opened, ElementsAre(u"c:\\", u"c:\\database"));
}

TEST_F(ScannerWalk, an_exclusion_added_between_steps_applies_to_entries_examined_afterwards) {
  tree.add_directory(u"C:\\Root");
  tree.add_directory(u"C:\\Root\\Sub");
  tree.add_file(u"C:\\Root\\Sub\\inner.txt", 1);
  tree.add_directory(u"C:\\Root\\Sub\\Below");
  for (std::size_t i = 0; i < 600; ++i) tree.add_file(numbered(u"C:\\Root\\f", i), 1);
  Scanner scanner(u"C:\\Root", tree.platform());
  EXPECT_EQ(record_paths(scanner.step()).size(), 512u);
  scanner.exclude(u"c:\\root\\sub");
  scanner.exclude(u"c:\\root\\f599");
  const std::vector<std::string> rest = steps_until_done(scanner);
  const std::vector<std::string> paths = all_record_paths(rest);
  EXPECT_EQ(paths.size(), 87u);
  EXPECT_EQ(paths.back(), R"(c:\\root\\f598)");
  // Sub was pushed before the exclusion: it is still listed, but nothing in it counts.
  EXPECT_THAT(tree.opened, ElementsAre(u"c:\\root", u"c:\\root\\sub"));
}

// ---- reparse points and offline entries ----

TEST_F(ScannerWalk, reparse_points_and_offline_entries_are_skipped_without_an_error_or_a_descent) {
  tree.add_directory(u"C:\\Root");
  tree.add_directory(u"C:\\Root\\Junction", attribute_directory | attribute_reparse_point);
  tree.add_file(u"C:\\Root\\Junction\\hidden.txt", 1);
  tree.add_file(u"C:\\Root\\Cold.dat", 4096, 0, 0, attribute_offline);
  tree.add_file(u"C:\\Root\\warm.dat", 10);
  Scanner scanner(u"C:\\Root", tree.platform());
  const std::string first = scanner.step();
  EXPECT_THAT(record_paths(first), ElementsAre(R"(c:\\root\\warm.dat)"));
  EXPECT_EQ(value_of(first, "skipped"), R"(["c:\\root\\junction","c:\\root\\cold.dat"])");
  EXPECT_EQ(value_of(first, "files"), "1");
  EXPECT_EQ(value_of(first, "bytes"), "10");
  EXPECT_EQ(value_of(first, "errors"), "0");
  EXPECT_EQ(value_of(scanner.step(), "skipped"), value_of(first, "skipped"));
  EXPECT_THAT(tree.opened, ElementsAre(u"c:\\root"));
}

TEST_F(ScannerWalk, skipped_paths_beyond_ten_thousand_become_errors) {
  tree.add_directory(u"C:\\Links");
  for (std::size_t i = 0; i < 10002; ++i) tree.add_file(numbered(u"C:\\Links\\l", i), 0, 0, 0, attribute_reparse_point);
  Scanner scanner(u"C:\\Links", tree.platform());
  const std::vector<std::string> batches = steps_until_done(scanner);
  const std::string& last = batches.back();
  EXPECT_EQ(value_of(last, "errors"), "2");
  EXPECT_EQ(value_of(last, "samples"), R"(["c:\\links\\l10000: too many excluded reparse/offline paths",)"
                                       R"("c:\\links\\l10001: too many excluded reparse/offline paths"])");
  const std::string skipped = value_of(last, "skipped");
  EXPECT_EQ(std::count(skipped.begin(), skipped.end(), ','), 9999) << "10000 skipped paths";
  EXPECT_TRUE(skipped.ends_with(R"("c:\\links\\l9999"])"));
}

// ---- errors ----

TEST_F(ScannerWalk, a_missing_root_gives_one_error_and_ends_the_walk) {
  Scanner scanner(u"C:\\Nowhere", tree.platform());
  EXPECT_EQ(scanner.step(), R"({"records":[],"errors":1,"files":0,"bytes":0,"done":true,)"
                            R"("samples":["c:\\nowhere: unavailable, reparse or offline ancestor"],"skipped":[]})");
}

TEST_F(ScannerWalk, a_directory_below_a_reparse_ancestor_is_refused_before_it_is_listed) {
  tree.add_directory(u"C:\\Moved", attribute_directory | attribute_reparse_point);
  tree.add_directory(u"C:\\Moved\\Inside");
  Scanner scanner(u"C:\\Moved\\Inside", tree.platform());
  EXPECT_EQ(value_of(scanner.step(), "samples"), R"(["c:\\moved\\inside: unavailable, reparse or offline ancestor"])");
  EXPECT_THAT(tree.opened, IsEmpty());
}

TEST_F(ScannerWalk, a_directory_that_vanished_after_it_was_pushed_is_one_error) {
  tree.add_directory(u"C:\\Root");
  tree.add_directory(u"C:\\Root\\Soon");
  for (std::size_t i = 0; i < 600; ++i) tree.add_file(numbered(u"C:\\Root\\f", i), 1);
  Scanner scanner(u"C:\\Root", tree.platform());
  scanner.step();
  tree.make_unreadable(u"C:\\Root\\Soon");  // gone: its attributes cannot be read
  const std::string last = steps_until_done(scanner).back();
  EXPECT_EQ(value_of(last, "samples"), R"(["c:\\root\\soon: unavailable, reparse or offline ancestor"])");
  EXPECT_EQ(value_of(last, "files"), "600");
}

TEST_F(ScannerWalk, a_listing_that_cannot_be_opened_is_an_error_unless_the_directory_is_merely_empty) {
  tree.add_directory(u"C:\\Root");
  tree.add_directory(u"C:\\Root\\Empty");
  tree.fail_open(u"C:\\Root\\Empty", error_file_not_found);
  tree.add_directory(u"C:\\Root\\Denied");
  tree.fail_open(u"C:\\Root\\Denied", 5);
  Scanner scanner(u"C:\\Root", tree.platform());
  const std::string batch = scanner.step();
  EXPECT_EQ(value_of(batch, "errors"), "1");
  EXPECT_EQ(value_of(batch, "samples"), R"(["c:\\root\\denied: FindFirstFile: 5"])");
  EXPECT_TRUE(is_done(batch));
}

TEST_F(ScannerWalk, a_listing_that_breaks_off_loses_the_rest_but_reports_the_entry_already_fetched) {
  tree.add_directory(u"C:\\Root");
  tree.add_file(u"C:\\Root\\first", 1);
  tree.add_file(u"C:\\Root\\second", 1);
  tree.add_file(u"C:\\Root\\third", 1);
  tree.fail_next_after(u"C:\\Root", 4, 3221225477u);  // ., .., first, second
  Scanner scanner(u"C:\\Root", tree.platform());
  const std::string batch = scanner.step();
  EXPECT_THAT(record_paths(batch), ElementsAre(R"(c:\\root\\first)", R"(c:\\root\\second)"));
  EXPECT_EQ(value_of(batch, "samples"), R"(["c:\\root: FindNextFile: 3221225477"])");
  EXPECT_TRUE(is_done(batch));
  EXPECT_EQ(tree.open_listings, 0u);
}

TEST_F(ScannerWalk, errors_beyond_the_eighth_are_counted_without_a_sample) {
  tree.add_directory(u"C:\\Root");
  for (std::size_t i = 0; i < 9; ++i) {
    tree.add_directory(numbered(u"C:\\Root\\d", i));
    tree.make_unreadable(numbered(u"C:\\Root\\d", i));
  }
  Scanner scanner(u"C:\\Root", tree.platform());
  const std::string batch = scanner.step();
  EXPECT_EQ(value_of(batch, "errors"), "9");
  const std::string samples = value_of(batch, "samples");
  EXPECT_EQ(std::count(samples.begin(), samples.end(), ':'), 16) << samples;
  EXPECT_EQ(samples.find("d0:"), std::string::npos) << "d8 is opened first, d0 last: its error has no sample";
}

TEST_F(ScannerWalk, pending_directories_beyond_the_cap_are_errors_instead_of_growing_without_end) {
  tree.add_wide_directory(u"C:\\Huge", scan_pending_cap + 1);
  Scanner scanner(u"C:\\Huge", tree.platform());
  std::string batch;
  do {
    batch = scanner.step();
  } while (value_of(batch, "errors") == "0" && !is_done(batch));
  EXPECT_TRUE(value_of(batch, "samples").starts_with(R"(["c:\\huge\\d1048576: too many pending directories")"));
}

// ---- ancestor check ----

TEST_F(ScannerWalk, a_network_tree_is_checked_up_to_its_share_and_never_at_the_bare_server) {
  tree.add_directory(u"\\\\Server\\Share");
  tree.add_directory(u"\\\\Server\\Share\\Team");
  tree.add_file(u"\\\\Server\\Share\\Team\\plan.doc", 9);
  Scanner scanner(u"\\\\?\\UNC\\Server\\Share\\Team", tree.platform());
  EXPECT_THAT(record_paths(scanner.step()), ElementsAre(R"(\\\\server\\share\\team\\plan.doc)"));
  EXPECT_THAT(tree.attribute_queries,
              ElementsAre(u"\\\\?\\UNC\\Server\\Share\\Team", u"\\\\?\\UNC\\Server\\Share"));
  EXPECT_THAT(tree.opened, ElementsAre(u"\\\\server\\share\\team"));
}

TEST(AncestorFloor, stops_at_the_drive_root_or_the_share) {
  EXPECT_EQ(ancestor_floor(u"c:\\a\\b"), 3u);
  EXPECT_EQ(ancestor_floor(u"\\\\server\\share\\a"), 14u);
  EXPECT_EQ(ancestor_floor(u"\\\\server\\share"), 14u);
  EXPECT_EQ(ancestor_floor(u"\\\\server"), 8u);
}

TEST_F(ScannerWalk, a_local_tree_is_checked_at_every_level_down_to_the_drive_root) {
  tree.add_directory(u"C:\\A");
  tree.add_directory(u"C:\\A\\B");
  Scanner scanner(u"C:\\A\\B", tree.platform());
  EXPECT_TRUE(is_done(scanner.step()));
  // Asked by the root's own spelling: in a case-sensitive parent only it names the root.
  EXPECT_THAT(tree.attribute_queries, ElementsAre(u"\\\\?\\C:\\A\\B", u"\\\\?\\C:\\A", u"\\\\?\\C:\\"));
}

TEST_F(ScannerWalk, a_drive_root_marked_as_a_reparse_point_still_lets_its_tree_be_walked) {
  tree.add_directory(u"Z:\\", attribute_directory | attribute_reparse_point);
  tree.add_directory(u"Z:\\Work");
  tree.add_file(u"Z:\\Work\\a.txt", 3);
  tree.add_directory(u"Z:\\Work\\Link", attribute_directory | attribute_reparse_point);
  Scanner scanner(u"Z:\\Work", tree.platform());
  const std::string batch = scanner.step();
  EXPECT_THAT(record_paths(batch), ElementsAre(R"(z:\\work\\a.txt)"));
  EXPECT_EQ(value_of(batch, "skipped"), R"(["z:\\work\\link"])");
  EXPECT_EQ(value_of(batch, "errors"), "0");
}

// ---- case-sensitive directories ----

// Siblings that differ only in case, at two depths, each with its own files;
// and a sibling of the root itself that differs only in case.
class CaseSensitiveWalk : public ::testing::Test {
 protected:
  CaseSensitiveWalk() {
    tree.make_case_sensitive();
    tree.add_directory(u"C:\\");
    tree.add_directory(u"C:\\Scan");
    tree.add_directory(u"C:\\scan");
    tree.add_file(u"C:\\scan\\beside-the-root.txt", 7);
    tree.add_directory(u"C:\\Scan\\A");
    tree.add_directory(u"C:\\Scan\\a");
    tree.add_file(u"C:\\Scan\\A\\one.txt", 1);
    tree.add_file(u"C:\\Scan\\a\\two.txt", 20);
    tree.add_directory(u"C:\\Scan\\A\\Sub");
    tree.add_directory(u"C:\\Scan\\a\\sub");
    tree.add_file(u"C:\\Scan\\A\\Sub\\x", 300);
    tree.add_file(u"C:\\Scan\\a\\sub\\y", 4000);
  }
  ScriptedTree tree;
};

TEST_F(CaseSensitiveWalk, each_file_is_reported_once_with_its_size_under_its_normalised_path) {
  Scanner scanner(u"C:\\Scan", tree.platform());
  const std::vector<std::string> batches = steps_until_done(scanner);
  EXPECT_THAT(all_record_paths(batches),
              ::testing::UnorderedElementsAre(R"(c:\\scan\\a\\one.txt)", R"(c:\\scan\\a\\two.txt)",
                                              R"(c:\\scan\\a\\sub\\x)", R"(c:\\scan\\a\\sub\\y)"));
  EXPECT_EQ(value_of(batches.back(), "files"), "4");
  EXPECT_EQ(value_of(batches.back(), "bytes"), "4321");
  EXPECT_EQ(value_of(batches.back(), "errors"), "0");
  EXPECT_THAT(tree.opened, ElementsAre(u"C:\\Scan", u"C:\\Scan\\a", u"C:\\Scan\\a\\sub", u"C:\\Scan\\A",
                                       u"C:\\Scan\\A\\Sub"));
}

TEST_F(CaseSensitiveWalk, the_ancestor_check_climbs_by_the_spelling_the_listing_gave) {
  Scanner scanner(u"C:/Scan/", tree.platform());
  steps_until_done(scanner);
  EXPECT_THAT(tree.attribute_queries, ::testing::Contains(u"\\\\?\\C:\\Scan\\A\\Sub"));
  EXPECT_THAT(tree.attribute_queries, ::testing::Contains(u"\\\\?\\C:\\Scan\\a\\sub"));
  EXPECT_THAT(tree.attribute_queries, ::testing::Not(::testing::Contains(u"\\\\?\\C:\\scan")));
}

TEST_F(CaseSensitiveWalk, an_exclusion_matches_every_spelling_of_its_normalised_path) {
  Scanner scanner(u"C:\\Scan", tree.platform());
  scanner.exclude(u"C:\\SCAN\\a\\SUB");
  const std::vector<std::string> batches = steps_until_done(scanner);
  EXPECT_THAT(all_record_paths(batches),
              ::testing::UnorderedElementsAre(R"(c:\\scan\\a\\one.txt)", R"(c:\\scan\\a\\two.txt)"));
  EXPECT_EQ(value_of(batches.back(), "bytes"), "21");
}

TEST_F(CaseSensitiveWalk, a_listing_error_is_reported_under_the_normalised_path) {
  tree.fail_open(u"C:\\Scan\\A\\Sub", 5);
  Scanner scanner(u"C:\\Scan", tree.platform());
  const std::vector<std::string> batches = steps_until_done(scanner);
  EXPECT_EQ(value_of(batches.back(), "samples"), R"(["c:\\scan\\a\\sub: FindFirstFile: 5"])");
  EXPECT_THAT(all_record_paths(batches), ::testing::Contains(R"(c:\\scan\\a\\sub\\y)"));
}

// ---- failures inside a step ----

TEST_F(ScannerWalk, a_step_that_throws_leaves_the_scanner_able_to_go_on) {
  tree.add_directory(u"C:\\Root");
  for (std::size_t i = 0; i < 5; ++i) tree.add_file(numbered(u"C:\\Root\\f", i), 1);
  Scanner scanner(u"C:\\Root", tree.platform());
  tree.throw_on_next_call();
  EXPECT_THROW(scanner.step(), std::bad_alloc);
  const std::vector<std::string> batches = steps_until_done(scanner);
  EXPECT_THAT(all_record_paths(batches), ElementsAre(R"(c:\\root\\f0)", R"(c:\\root\\f1)", R"(c:\\root\\f2)",
                                                     R"(c:\\root\\f3)", R"(c:\\root\\f4)"));
  EXPECT_TRUE(is_done(batches.back()));
  EXPECT_EQ(tree.open_listings, 0u);
}

TEST_F(ScannerWalk, destroying_a_scanner_in_the_middle_of_a_listing_closes_it) {
  tree.add_directory(u"C:\\Many");
  for (std::size_t i = 0; i < 600; ++i) tree.add_file(numbered(u"C:\\Many\\f", i), 1);
  {
    Scanner scanner(u"C:\\Many", tree.platform());
    scanner.step();
    EXPECT_EQ(tree.open_listings, 1u);
  }
  EXPECT_EQ(tree.open_listings, 0u);
}

}  // namespace
}  // namespace mirrow
