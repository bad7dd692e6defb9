// The directory watcher through the exports on the real file system, and
// the capture start as the system answers it here. Changes are made in the
// watched directory itself; names below it are covered by the buffer walk.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/linux_trees_win.h"
#include "support/temp_dir_win.h"
#include "support/vantrel_api.h"

namespace mirrow::testing {
namespace {


struct DrainRecord {
  std::string path, second;
  std::uint64_t kind = 0, pid = 0, root = 0;
};

// Reads one JSON string starting at the quote; the paths here are ASCII.
std::string read_string(const std::string& text, std::size_t& at) {
  std::string out;
  for (++at; at < text.size() && text[at] != '"'; ++at) {
    if (text[at] == '\\') ++at;
    out += text[at];
  }
  ++at;
  return out;
}

std::uint64_t read_number(const std::string& text, std::size_t& at) {
  const std::size_t start = at;
  while (at < text.size() && text[at] != ',' && text[at] != ']') ++at;
  return std::stoull(text.substr(start, at - start));
}

// Records are [first,root,"path",kind,pid,"second",count,last].
std::vector<DrainRecord> parse_drain(const std::string& text) {
  std::vector<DrainRecord> records;
  std::size_t at = 1;
  while (at < text.size() && text[at] == '[') {
    DrainRecord r;
    at = text.find(',', at) + 1;
    r.root = read_number(text, at);
    ++at;
    r.path = read_string(text, at);
    ++at;
    r.kind = read_number(text, at);
    ++at;
    r.pid = read_number(text, at);
    ++at;
    r.second = read_string(text, at);
    at = text.find(']', at) + 1;
    if (at < text.size() && text[at] == ',') ++at;
    records.push_back(r);
  }
  return records;
}

std::string lower_ascii(const std::wstring& s) {
  std::string out;
  for (const wchar_t c : s) out += static_cast<char>(c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c);
  return out;
}

class WatcherExportsTest : public ::testing::Test {
 protected:
  void start() {
    ASSERT_EQ(vantrel().vt_root(engine, 1, dir.path().c_str(), 0), 0u);
    ASSERT_EQ(vantrel().vt_start(engine, 0, 0), 0u);
  }

  std::string path_of(const std::wstring& name) const { return lower_ascii(dir / name); }

  // Drains until a record of that kind and path (and second path) appears.
  bool wait_for(std::uint64_t kind, const std::wstring& name, const std::wstring& second = L"") {
    for (int i = 0; i < 100; ++i) {
      std::uint64_t length = 0;
      const char* text = vantrel().vt_drain(engine, &length);
      if (text != nullptr) {
        for (const DrainRecord& r : parse_drain(std::string(text, length))) seen.push_back(r);
      }
      for (const DrainRecord& r : seen)
        if (r.kind == kind && r.path == path_of(name) && (second.empty() || r.second == path_of(second))) return true;
      Sleep(50);
    }
    return false;
  }

  std::vector<std::uint64_t> stats() {
    std::vector<std::uint64_t> values(13, 0);
    EXPECT_EQ(vantrel().vt_stats(engine, values.data(), values.size()), 0u);
    return values;
  }

  TempDir dir;
  Engine engine;
  std::vector<DrainRecord> seen;
};

void write_file(const std::wstring& path, const char* content) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  SetFilePointer(file, 0, nullptr, FILE_END);
  DWORD written = 0;
  WriteFile(file, content, static_cast<DWORD>(strlen(content)), &written, nullptr);
  CloseHandle(file);
}

TEST_F(WatcherExportsTest, reports_files_added_modified_renamed_and_removed_with_process_zero) {
  start();
  write_file(dir / L"a.txt", "");
  EXPECT_TRUE(wait_for(7, L"a.txt"));
  write_file(dir / L"a.txt", "more");
  EXPECT_TRUE(wait_for(8, L"a.txt"));
  ASSERT_TRUE(MoveFileW((dir / L"a.txt").c_str(), (dir / L"B.txt").c_str()));
  EXPECT_TRUE(wait_for(10, L"a.txt", L"b.txt"));
  ASSERT_TRUE(DeleteFileW((dir / L"B.txt").c_str()));
  EXPECT_TRUE(wait_for(9, L"b.txt"));
  for (const DrainRecord& r : seen) {
    EXPECT_EQ(r.pid, 0u) << r.path;
    EXPECT_EQ(r.root, 1u) << r.path;
  }
  const auto values = stats();
  EXPECT_GE(values[7], 4u);
  EXPECT_EQ(values[9], 1u);
}

TEST_F(WatcherExportsTest, reports_directories_added_renamed_and_removed) {
  start();
  ASSERT_TRUE(CreateDirectoryW((dir / L"d").c_str(), nullptr));
  EXPECT_TRUE(wait_for(7, L"d"));
  ASSERT_TRUE(MoveFileW((dir / L"d").c_str(), (dir / L"e").c_str()));
  EXPECT_TRUE(wait_for(10, L"d", L"e"));
  ASSERT_TRUE(RemoveDirectoryW((dir / L"e").c_str()));
  EXPECT_TRUE(wait_for(9, L"e"));
}

TEST_F(WatcherExportsTest, counts_changes_under_an_exclusion_without_recording_them) {
  ASSERT_EQ(vantrel().vt_exclude(engine, (dir / L"skipped.txt").c_str()), 0u);
  start();
  write_file(dir / L"skipped.txt", "");
  write_file(dir / L"marker.txt", "");
  ASSERT_TRUE(wait_for(7, L"marker.txt"));
  for (const DrainRecord& r : seen) EXPECT_NE(r.path, path_of(L"skipped.txt"));
  EXPECT_GE(stats()[7], 2u);
}

TEST_F(WatcherExportsTest, stop_ends_every_watcher_promptly) {
  CreateDirectoryW((dir / L"one").c_str(), nullptr);
  CreateDirectoryW((dir / L"two").c_str(), nullptr);
  ASSERT_EQ(vantrel().vt_root(engine, 1, (dir / L"one").c_str(), 0), 0u);
  ASSERT_EQ(vantrel().vt_root(engine, 2, (dir / L"two").c_str(), 0), 0u);
  ASSERT_EQ(vantrel().vt_start(engine, 0, 0), 0u);
  EXPECT_EQ(stats()[9], 1u);
  const ULONGLONG before = GetTickCount64();
  vantrel().vt_stop(engine);
  EXPECT_LT(GetTickCount64() - before, 1000u);
  EXPECT_EQ(stats()[9], 0u);
}

// Here the system accepts a session but refuses its consumer (access denied):
// the start reports that code, keeps watching and leaves no capture behind.
TEST_F(WatcherExportsTest, a_capture_the_system_refuses_leaves_the_watchers_running) {
  ASSERT_EQ(vantrel().vt_root(engine, 1, dir.path().c_str(), 0), 0u);
  const std::uint32_t status = vantrel().vt_start(engine, 1, 0);
  EXPECT_EQ(status, 5u);
  const auto values = stats();
  EXPECT_EQ(values[8], 0u);
  EXPECT_EQ(values[9], 1u);
  std::uint64_t length = 0;
  const std::string diagnostics = vantrel().vt_diagnostics(engine, &length);
  EXPECT_NE(diagnostics.find("\"system_names_enabled\":false,\"system_names_error\":5,"), std::string::npos)
      << diagnostics;
  write_file(dir / L"still.txt", "");
  EXPECT_TRUE(wait_for(7, L"still.txt"));
  vantrel().vt_stop(engine);
  EXPECT_EQ(vantrel().vt_start(engine, 0, 0), 0u);
}

// Under Wine every Linux directory is case-sensitive; the driver's tree has
// the empty siblings watch\Mixed and watch\mixed.
TEST(WatcherCaseTree, a_root_beside_a_sibling_differing_only_in_case_watches_the_one_spelled) {
  const std::wstring tree = case_tree();
  if (tree.empty()) GTEST_SKIP() << "run through the driver that makes the case tree";
  const std::wstring watch = tree + L"\\watch";
  Engine engine;
  ASSERT_EQ(vantrel().vt_root(engine, 1, (watch + L"\\Mixed").c_str(), 0), 0u);
  ASSERT_EQ(vantrel().vt_start(engine, 0, 0), 0u);
  // The sibling's change comes first: were it watched, it would be drained
  // by the time the change in the watched directory is.
  write_file(watch + L"\\mixed\\lower.txt", "");
  write_file(watch + L"\\Mixed\\upper.txt", "");
  const std::string upper = lower_ascii(watch + L"\\mixed\\upper.txt");
  const std::string lower = lower_ascii(watch + L"\\mixed\\lower.txt");
  std::vector<DrainRecord> seen;
  for (int i = 0; i < 100 && std::none_of(seen.begin(), seen.end(), [&](const DrainRecord& r) { return r.path == upper; });
       ++i) {
    std::uint64_t length = 0;
    if (const char* text = vantrel().vt_drain(engine, &length)) {
      for (const DrainRecord& r : parse_drain(std::string(text, length))) seen.push_back(r);
    }
    Sleep(50);
  }
  EXPECT_TRUE(std::any_of(seen.begin(), seen.end(),
                          [&](const DrainRecord& r) { return r.path == upper && r.kind == 7 && r.root == 1; }));
  EXPECT_TRUE(std::none_of(seen.begin(), seen.end(), [&](const DrainRecord& r) { return r.path == lower; }));
}

}  // namespace
}  // namespace mirrow::testing
