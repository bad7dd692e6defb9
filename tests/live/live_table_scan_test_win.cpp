// Live checks of the scanner's reading of a real volume's master file
// table, which needs an NTFS volume the process can open (elevation):
// System32 read from the table agrees with its walk, and the system
// drive's root is read to the end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "common/utf16.h"
#include "host/json_value.h"
#include "tests/live/live_support_win.h"

namespace mirrow::live {
namespace {

using testing::vantrel;

constexpr const char* kNeeds = "NTFS volume to read the master file table of";

struct Scan {
  std::map<std::u16string, std::uint64_t> files;  // path: size (the last of equal paths)
  std::uint64_t bytes = 0;
  std::uint64_t records = 0;
  std::vector<std::u16string> samples;
  std::string way;
  bool done = false;
};

Scan scan(const std::wstring& root, std::uint32_t way) {
  Scan result;
  vt_scanner* scanner = vantrel().vt_scan_create_with(root.c_str(), way, nullptr, 0);
  if (scanner == nullptr) return result;
  for (int failures = 0; failures < 100;) {
    std::uint64_t length = 0;
    const char* text = vantrel().vt_scan_next(scanner, &length);
    const auto batch = text ? host::parse_json(std::string_view(text, length)) : std::nullopt;
    if (!batch) {
      ++failures;
      continue;
    }
    for (const auto& record : (*batch)["records"].items) {
      result.files[record[0].as_text()] = record[1][0].as_u64().value_or(0);
      ++result.records;
    }
    if ((*batch)["done"].kind == host::JsonValue::Kind::boolean && (*batch)["done"].boolean) {
      result.bytes = (*batch)["bytes"].as_u64().value_or(0);
      for (const auto& sample : (*batch)["samples"].items) result.samples.push_back(sample.as_text());
      result.done = true;
      break;
    }
  }
  std::uint64_t length = 0;
  const char* way_text = vantrel().vt_scan_way(scanner, &length);
  result.way = way_text ? std::string(way_text, length) : std::string();
  vantrel().vt_scan_destroy(scanner);
  return result;
}

std::wstring system32() {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  return std::wstring(folder, length);
}

// A path the walk could not list a folder above (access denied): the table
// reports what lies there, the walk cannot.
bool below_an_unlisted_folder(const std::u16string& path, const std::vector<std::u16string>& samples) {
  for (const std::u16string& sample : samples) {
    const std::u16string folder = sample.substr(0, sample.find(u": "));
    if (path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == u'\\') return true;
  }
  return false;
}

TEST(LiveTableScan, system32_from_the_table_agrees_with_its_walk_on_paths_and_bytes) {
  LIVE_SKIP_UNLESS_POSSIBLE(kNeeds, true);
  const Scan table = scan(system32(), 0);
  const Scan walk = scan(system32(), 1);
  ASSERT_TRUE(table.done && walk.done);
  ASSERT_THAT(table.way, ::testing::HasSubstr("\"way\":\"table\"")) << table.way;
  std::vector<std::u16string> unexplained;
  for (const auto& [path, size] : table.files)
    if (!walk.files.contains(path) && !below_an_unlisted_folder(path, walk.samples)) unexplained.push_back(path);
  for (const auto& [path, size] : walk.files)
    if (!table.files.contains(path)) unexplained.push_back(path);
  // Files written or removed between the two scans are the only others.
  EXPECT_LE(unexplained.size(), 10u + walk.files.size() / 1000)
      << (unexplained.empty() ? std::string() : utf8_from_utf16(unexplained.front()));
  const double ratio = double(table.bytes) / double(walk.bytes ? walk.bytes : 1);
  EXPECT_NEAR(ratio, 1.0, 0.01) << table.bytes << " against " << walk.bytes;
}

TEST(LiveTableScan, the_system_drives_root_is_read_from_the_table_to_the_end) {
  LIVE_SKIP_UNLESS_POSSIBLE(kNeeds, true);
  wchar_t windows[MAX_PATH];
  GetWindowsDirectoryW(windows, MAX_PATH);
  const std::wstring root = std::wstring(windows, 3);
  const Scan whole = scan(root, 0);
  EXPECT_TRUE(whole.done);
  EXPECT_THAT(whole.way, ::testing::HasSubstr("\"way\":\"table\"")) << whole.way;
  EXPECT_GT(whole.records, 10000u);
}

}  // namespace
}  // namespace mirrow::live
