// The scanner as a host uses it: Vantrel.dll loaded with LoadLibraryW, the
// four scanner exports bound by name, real trees built in a temporary
// directory. A tree with a Linux symbolic link cannot be made from inside
// Wine; the test's driver makes one and passes it as --linked-tree=PATH.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <set>

#include "common/file_time.h"
#include "common/number_format.h"
#include "common/scope_exit.h"
#include "tests/scanner/batch_text.h"
#include "tests/scanner/scan_fixture_win.h"
#include "support/linux_trees_win.h"

namespace mirrow::scan_test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using mirrow::testing::case_tree;
using mirrow::testing::linked_tree;

const ScanExports& dll() {
  static const ScanExports exports;
  return exports;
}

std::string quoted(const std::wstring& path) { return "\"" + expected_path_text(path) + "\""; }

std::vector<std::string> all_record_paths(const std::vector<std::string>& batches) {
  std::vector<std::string> paths;
  for (const std::string& batch : batches) {
    for (std::string& path : record_paths(batch)) paths.push_back(std::move(path));
  }
  return paths;
}

// Names in the order the directory lists them, without . and ..
std::vector<std::wstring> listing_order(const std::wstring& directory) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  UniqueFindHandle listing(FindFirstFileW((directory + L"\\*").c_str(), &data));
  if (!listing) return names;
  do {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(listing.get(), &data));
  return names;
}

std::string seconds_text(const FILETIME& time) {
  std::string text;
  append_g17(text, unix_seconds_from_filetime(file_time_value(time)));
  return text;
}

class ScannerDll : public ::testing::Test {
 protected:
  TempTree tree;
};

// ---- whole walks ----

TEST_F(ScannerDll, an_empty_root_gives_exactly_the_finished_empty_batch) {
  ScanSession scan(dll(), tree.root());
  EXPECT_EQ(scan.next(), R"({"records":[],"errors":0,"files":0,"bytes":0,"done":true,"samples":[],"skipped":[]})");
}

TEST_F(ScannerDll, a_missing_root_is_one_error_with_its_sample) {
  ScanSession scan(dll(), tree.path(L"Nowhere"));
  EXPECT_EQ(scan.next(), R"({"records":[],"errors":1,"files":0,"bytes":0,"done":true,"samples":[")" +
                             expected_path_text(tree.path(L"Nowhere")) +
                             R"(: unavailable, reparse or offline ancestor"],"skipped":[]})");
}

TEST_F(ScannerDll, thirteen_hundred_files_come_in_three_batches_and_each_file_once) {
  std::uint64_t bytes = 0;
  for (int i = 0; i < 1300; ++i) {
    tree.file(L"f" + std::to_wstring(i) + L".bin", i % 7);
    bytes += i % 7;
  }
  ScanSession scan(dll(), tree.root());
  const std::vector<std::string> batches = scan.until_done();
  ASSERT_EQ(batches.size(), 3u);
  const std::size_t records[] = {512, 512, 276};
  const char* files[] = {"512", "1024", "1300"};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(record_paths(batches[i]).size(), records[i]);
    EXPECT_EQ(value_of(batches[i], "files"), files[i]);
    EXPECT_EQ(is_done(batches[i]), i == 2);
  }
  EXPECT_EQ(value_of(batches[2], "bytes"), std::to_string(bytes));
  const std::vector<std::string> paths = all_record_paths(batches);
  EXPECT_EQ(std::set<std::string>(paths.begin(), paths.end()).size(), 1300u);

  const std::string after = scan.next();
  EXPECT_THAT(record_paths(after), IsEmpty());
  EXPECT_EQ(after.substr(after.find("],\"errors\"")), batches[2].substr(batches[2].find("],\"errors\"")));
}

TEST_F(ScannerDll, nested_directories_are_walked_depth_first_with_siblings_in_reverse_listing_order) {
  tree.directory(L"a");
  tree.file(L"a\\a.txt", 1);
  tree.directory(L"a\\deep");
  tree.file(L"a\\deep\\deep.txt", 2);
  tree.directory(L"b");
  tree.file(L"b\\b.txt", 3);
  tree.file(L"top.txt", 4);

  // The order in which the root lists a and b decides which is walked first.
  std::vector<std::wstring> listed = listing_order(tree.root());
  std::erase(listed, L"top.txt");
  ASSERT_EQ(listed.size(), 2u);

  const std::vector<std::string> a_subtree{expected_path_text(tree.path(L"a\\a.txt")),
                                           expected_path_text(tree.path(L"a\\deep\\deep.txt"))};
  const std::vector<std::string> b_subtree{expected_path_text(tree.path(L"b\\b.txt"))};
  std::vector<std::string> expected{expected_path_text(tree.path(L"top.txt"))};
  const bool b_listed_last = listed[1] == L"b";
  for (const auto* subtree : b_listed_last ? std::vector{&b_subtree, &a_subtree} : std::vector{&a_subtree, &b_subtree})
    expected.insert(expected.end(), subtree->begin(), subtree->end());

  ScanSession scan(dll(), tree.root());
  const std::string batch = scan.next();
  EXPECT_EQ(record_paths(batch), expected);
  EXPECT_EQ(value_of(batch, "bytes"), "10");
  EXPECT_TRUE(is_done(batch));
}

TEST_F(ScannerDll, the_root_may_be_given_in_long_form_upper_case_with_forward_slashes_and_a_trailing_separator) {
  tree.file(L"one.txt", 1);
  std::wstring root = tree.root();
  for (wchar_t& c : root) c = c == L'\\' ? L'/' : static_cast<wchar_t>(towupper(c));
  root = L"\\\\?\\" + root + L"/";
  ScanSession scan(dll(), root);
  EXPECT_THAT(record_paths(scan.next()), ElementsAre(expected_path_text(tree.path(L"one.txt"))));
}

// ---- names and times ----

TEST_F(ScannerDll, non_ascii_and_upper_case_names_are_reported_lower_case_as_escapes) {
  tree.file(L"\u00dcn\u00cf.TXT", 1024);
  tree.file(L"\u65e5\u672c.txt", 1);
  tree.file(L"\U0001F600.txt", 1);
  ScanSession scan(dll(), tree.root());
  const std::string batch = scan.next();
  std::vector<std::string> paths = record_paths(batch);
  std::sort(paths.begin(), paths.end());
  std::vector<std::string> expected{expected_path_text(tree.path(L"\u00fcn\u00ef.txt")),
                                    expected_path_text(tree.path(L"\u65e5\u672c.txt")),
                                    expected_path_text(tree.path(L"\U0001F600.txt"))};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(paths, expected);
  EXPECT_NE(batch.find(R"(\\\u00fcn\u00ef.txt",[1024,)"), std::string::npos) << batch;
  EXPECT_NE(batch.find(R"(\\\ud83d\ude00.txt")"), std::string::npos) << batch;
  EXPECT_EQ(std::count_if(batch.begin(), batch.end(), [](char c) { return c < 0x20 || c > 0x7e; }), 0);
}

TEST_F(ScannerDll, record_times_are_the_files_own_times_in_unix_seconds) {
  tree.file(L"dated.txt", 3);
  {
    UniqueHandle file(CreateFileW(tree.path(L"dated.txt").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                  0, nullptr));
    ASSERT_TRUE(file.valid());
    const std::int64_t written = filetime_unix_epoch + 1700000000LL * filetime_units_per_second + 1234567;
    const FILETIME write_time{static_cast<DWORD>(written), static_cast<DWORD>(written >> 32)};
    ASSERT_TRUE(SetFileTime(file.get(), nullptr, nullptr, &write_time));
  }
  WIN32_FILE_ATTRIBUTE_DATA own;
  ASSERT_TRUE(GetFileAttributesExW(tree.path(L"dated.txt").c_str(), GetFileExInfoStandard, &own));
  ScanSession scan(dll(), tree.root());
  const std::string batch = scan.next();
  EXPECT_NE(batch.find("[" + quoted(tree.path(L"dated.txt")) + ",[3," + seconds_text(own.ftLastWriteTime) + "," +
                       seconds_text(own.ftCreationTime) + "]]"),
            std::string::npos)
      << batch;
  EXPECT_EQ(seconds_text(own.ftLastWriteTime), "1700000000.1234567");
}

// ---- exclusions ----

TEST_F(ScannerDll, an_exclusion_added_first_hides_its_subtree_but_not_a_name_that_merely_starts_alike) {
  tree.directory(L"data");
  tree.file(L"data\\x.txt", 1);
  tree.directory(L"database");
  tree.file(L"database\\y.txt", 1);
  ScanSession scan(dll(), tree.root());
  scan.exclude(tree.path(L"DATA"));
  EXPECT_THAT(record_paths(scan.next()), ElementsAre(expected_path_text(tree.path(L"database\\y.txt"))));
}

TEST_F(ScannerDll, an_exclusion_added_between_calls_hides_what_is_examined_afterwards) {
  for (int i = 0; i < 600; ++i) tree.file(L"f" + std::to_wstring(i), 1);
  tree.directory(L"sub");
  tree.file(L"sub\\inner.txt", 1);
  ScanSession scan(dll(), tree.root());
  EXPECT_EQ(record_paths(scan.next()).size(), 512u);
  scan.exclude(tree.path(L"sub"));
  scan.exclude(tree.root());
  const std::string last = scan.until_done().back();
  EXPECT_EQ(value_of(last, "files"), "512");
  EXPECT_EQ(value_of(last, "errors"), "0");
  EXPECT_TRUE(is_done(last));
}

// ---- errors ----

TEST_F(ScannerDll, directories_that_vanish_or_become_files_before_they_are_opened_are_errors_eight_sampled) {
  // Ten sibling directories are pushed in listing order and opened in the
  // reverse; the last listed holds 600 files, so the first call ends inside
  // its listing while the other nine wait, unopened.
  for (int i = 0; i < 10; ++i) tree.directory(L"n" + std::to_wstring(i));
  const std::vector<std::wstring> listed = listing_order(tree.root());
  ASSERT_EQ(listed.size(), 10u);
  for (int i = 0; i < 600; ++i) tree.file(listed[9] + L"\\f" + std::to_wstring(i), 1);
  ScanSession scan(dll(), tree.root());
  EXPECT_EQ(record_paths(scan.next()).size(), 512u);
  for (int i = 0; i < 9; ++i) tree.remove(listed[i]);
  tree.file(listed[8], 5);  // opened first of the nine: a file now

  const std::string last = scan.until_done().back();
  EXPECT_EQ(value_of(last, "errors"), "9");
  EXPECT_EQ(value_of(last, "files"), "600");
  std::string expected_samples = "[\"" + expected_path_text(tree.path(listed[8])) + ": FindFirstFile: ";
  const std::string samples = value_of(last, "samples");
  ASSERT_TRUE(samples.starts_with(expected_samples)) << samples;
  const std::size_t code_end = samples.find('"', expected_samples.size());
  EXPECT_NE(samples.substr(expected_samples.size(), code_end - expected_samples.size()), "2")
      << "not found would have been silent";
  expected_samples = samples.substr(0, code_end + 1);
  for (int i = 7; i >= 1; --i)
    expected_samples += ",\"" + expected_path_text(tree.path(listed[i])) + ": unavailable, reparse or offline ancestor\"";
  EXPECT_EQ(samples, expected_samples + "]") << "the ninth error has no sample";
}

TEST_F(ScannerDll, a_file_given_as_root_is_a_listing_error) {
  tree.file(L"plain.txt", 1);
  ScanSession scan(dll(), tree.path(L"plain.txt"));
  const std::string batch = scan.next();
  EXPECT_TRUE(value_of(batch, "samples").starts_with("[\"" + expected_path_text(tree.path(L"plain.txt")) +
                                                     ": FindFirstFile: "))
      << batch;
  EXPECT_TRUE(is_done(batch));
}

// ---- symbolic links ----

TEST(ScannerDllLinks, a_symbolic_link_to_a_directory_is_skipped_and_not_followed) {
  const std::wstring root = linked_tree();
  if (root.empty()) GTEST_SKIP() << "run through the driver that makes the linked tree";
  ScanSession scan(dll(), root);
  const std::string first = scan.next();
  EXPECT_THAT(record_paths(first), ElementsAre(expected_path_text(root + L"\\real\\inside.txt"))) << first;
  EXPECT_EQ(value_of(first, "skipped"), "[" + quoted(root + L"\\link") + "]");
  EXPECT_EQ(value_of(first, "errors"), "0");
  EXPECT_TRUE(is_done(first));
  EXPECT_EQ(value_of(scan.next(), "skipped"), value_of(first, "skipped"));
}

TEST(ScannerDllLinks, a_root_below_a_symbolic_link_is_refused) {
  const std::wstring root = linked_tree();
  if (root.empty()) GTEST_SKIP() << "run through the driver that makes the linked tree";
  ScanSession scan(dll(), root + L"\\link");
  EXPECT_EQ(value_of(scan.next(), "samples"),
            "[\"" + expected_path_text(root + L"\\link") + ": unavailable, reparse or offline ancestor\"]");
}

// ---- bad arguments ----

TEST(ScannerDllArguments, null_arguments_are_refused_or_counted_never_followed) {
  EXPECT_EQ(dll().create(nullptr), nullptr);
  dll().destroy(nullptr);
  uint64_t length = 99;
  EXPECT_EQ(dll().next(nullptr, &length), nullptr);
  EXPECT_EQ(length, 0u);
  dll().exclude(nullptr, L"c:\\x");

  TempTree tree;
  vt_scanner* scanner = dll().create(tree.root().c_str());
  ASSERT_NE(scanner, nullptr);
  auto destroy = scope_exit([&] { dll().destroy(scanner); });
  dll().exclude(scanner, nullptr);
  EXPECT_EQ(dll().next(scanner, nullptr), nullptr);
  dll().exclude(scanner, L"");
  const char* text = dll().next(scanner, &length);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::string(text, length),
            R"({"records":[],"errors":2,"files":0,"bytes":0,"done":true,"samples":[],"skipped":[]})");
}

// ---- case-sensitive directories ----
// Under Wine every Linux directory is case-sensitive; the driver's tree has
// siblings that differ only in case at three depths (sizes 1 to 32 bytes).

class ScannerDllCaseTree : public ::testing::Test {
 protected:
  void SetUp() override {
    if (case_tree().empty()) GTEST_SKIP() << "run through the driver that makes the case tree";
  }
  std::wstring scan_root() const { return case_tree() + L"\\scan"; }
  std::string expected(const std::wstring& relative) const { return expected_path_text(scan_root() + relative); }
};

TEST_F(ScannerDllCaseTree, every_file_is_reported_once_with_its_size_and_the_totals_add_up) {
  ScanSession scan(dll(), scan_root());
  const std::vector<std::string> batches = scan.until_done();
  EXPECT_THAT(all_record_paths(batches),
              ::testing::UnorderedElementsAre(expected(L"\\a\\one.txt"), expected(L"\\a\\two.txt"),
                                              expected(L"\\a\\sub\\x"), expected(L"\\a\\sub\\y"),
                                              expected(L"\\a\\sub\\deep\\z"), expected(L"\\a\\sub\\deep\\w")));
  EXPECT_EQ(value_of(batches.back(), "files"), "6");
  EXPECT_EQ(value_of(batches.back(), "bytes"), "63");
  EXPECT_EQ(value_of(batches.back(), "errors"), "0");
  EXPECT_EQ(value_of(batches.back(), "samples"), "[]");
}

TEST_F(ScannerDllCaseTree, a_root_spelled_in_upper_case_walks_that_directory_only) {
  ScanSession scan(dll(), scan_root() + L"\\A");
  const std::vector<std::string> batches = scan.until_done();
  EXPECT_THAT(all_record_paths(batches),
              ::testing::UnorderedElementsAre(expected(L"\\a\\one.txt"), expected(L"\\a\\sub\\x")));
  EXPECT_EQ(value_of(batches.back(), "bytes"), "5");
}

TEST_F(ScannerDllCaseTree, an_exclusion_matches_every_spelling_of_its_normalised_path) {
  ScanSession scan(dll(), scan_root());
  scan.exclude(scan_root() + L"\\A\\SUB");
  const std::vector<std::string> batches = scan.until_done();
  EXPECT_THAT(all_record_paths(batches),
              ::testing::UnorderedElementsAre(expected(L"\\a\\one.txt"), expected(L"\\a\\two.txt")));
  EXPECT_EQ(value_of(batches.back(), "bytes"), "3");
}

}  // namespace
}  // namespace mirrow::scan_test
