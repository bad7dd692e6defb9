// Recorded traces replayed through the intake: the recording from a real
// machine, and small files made here.
#include "engine/capture/trace_replay.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "common/paths.h"
#include "engine/api/native_engine.h"
#include "support/event_payloads.h"
#include "support/strict_json.h"
#include "support/trace_file_builder.h"
#include "support/trace_fixture.h"

namespace mirrow {
namespace {

using mirrow::testing::JsonValue;
using mirrow::testing::parse_strict_json;
using mirrow::testing::TraceFileBuilder;
using mirrow::testing::trace_fixture;
using Bytes = std::vector<std::uint8_t>;

constexpr trace_file::Guid kernel_file{0xEDD08927, 0x9CC4, 0x4E65, {0xB9, 0x70, 0xC2, 0x56, 0x0F, 0xB5, 0xC2, 0x89}};
constexpr double seconds = 1764979200.5;

std::string drain_all(NativeEngine& engine) {
  std::string all;
  for (std::string batch(engine.drain()); batch != "[]"; batch = std::string(engine.drain())) all += batch;
  return all;
}

// path of every drained record of a process (the last one it gave).
std::map<std::uint64_t, std::u16string> paths_by_pid(const std::string& batch) {
  std::map<std::uint64_t, std::u16string> paths;
  const auto parsed = parse_strict_json(batch);
  if (!parsed) return paths;
  for (const JsonValue& record : parsed->items) paths[std::stoull(record.items[4].literal)] = record.items[2].text;
  return paths;
}

class FixtureReplay : public ::testing::Test {
 protected:
  FixtureReplay() {
    engine.set_own_pid(1);
    engine.add_root(1, u"C:\\", true);
    engine.add_root(2, u"\\\\clrmain\\public", true);
  }

  JsonValue replay(const std::u16string* devices = nullptr) {
    std::string report;
    EXPECT_EQ(engine.replay_trace_file(trace_fixture(), report, devices), 0u) << report;
    auto parsed = parse_strict_json(report);
    EXPECT_TRUE(parsed) << report;
    return parsed.value_or(JsonValue{});
  }

  NativeEngine engine;
};

TEST_F(FixtureReplay, every_event_goes_through_the_intake_and_nothing_is_malformed) {
  const JsonValue report = replay();
  EXPECT_EQ(report["events_read"].literal, "179474");
  EXPECT_EQ(report["events_skipped"].literal, "0");
  EXPECT_EQ(report["buffers"].literal, "360");
  EXPECT_EQ(engine.counter("malformed"), 0u);
  EXPECT_EQ(engine.counter("unsupported"), 0u);
  EXPECT_EQ(engine.counter("errors"), 0u);
  EXPECT_EQ(engine.counter("classic_names"), 16u + 14u + 3054u);
  EXPECT_EQ(engine.counter("events"), 562u);
}

TEST_F(FixtureReplay, the_recordings_own_volume_map_names_its_drives_and_the_report_says_so) {
  const JsonValue report = replay();
  const JsonValue& map = report["device_map"];
  EXPECT_EQ(map["source"].text, u"recording");
  std::map<std::u16string, std::u16string> entries;
  for (const JsonValue& entry : map["entries"].items) entries[entry["device"].text] = entry["drive"].text;
  EXPECT_EQ(entries, (std::map<std::u16string, std::u16string>{{u"\\device\\harddiskvolume2", u"c:"},
                                                                 {u"\\device\\cdrom0", u"d:"},
                                                                 {u"\\device\\floppy0", u"a:"}}));
}

// The recording's creates, in the order it holds them, each read from its
// payload bytes here rather than by the decoder: the file object at offset
// 8, the name at offset 32.
struct RecordedCreate {
  std::uint64_t file_object = 0;
  std::u16string name;
  Bytes payload;
};

std::vector<RecordedCreate> recorded_creates() {
  std::vector<RecordedCreate> creates;
  trace_file::Reader reader(trace_fixture());
  reader.read([&](const trace_file::Event& e) {
    if (e.provider != kernel_file || e.id != 12 || e.user_data_length < 34) return;
    RecordedCreate create;
    std::memcpy(&create.file_object, e.user_data + 8, 8);
    for (std::size_t at = 32; at + 2 <= e.user_data_length; at += 2) {
      char16_t unit;
      std::memcpy(&unit, e.user_data + at, 2);
      if (unit == 0) break;
      create.name.push_back(unit);
    }
    create.payload.assign(e.user_data, e.user_data + e.user_data_length);
    creates.push_back(std::move(create));
  });
  return creates;
}

// The path a name of the recording has on its drive or share: the
// recording names shares through the DFS client and, in its rundown,
// directly under the multiple UNC provider.
std::u16string expected_path(const std::u16string& raw) {
  constexpr std::u16string_view volume2 = u"\\Device\\HarddiskVolume2";
  constexpr std::u16string_view dfs = u"\\Device\\Mup\\DfsClient\\;Z:0000000000020d40";
  constexpr std::u16string_view mup = u"\\Device\\Mup";
  if (raw.starts_with(volume2)) return normalize_path(u"C:" + raw.substr(volume2.size()));
  if (raw.starts_with(dfs)) return normalize_path(u"\\" + raw.substr(dfs.size()));
  if (raw.starts_with(mup)) return normalize_path(u"\\" + raw.substr(mup.size()));
  return {};
}

// Each of the recording's creates followed by a read on its file object,
// each read by a process of its own: a file-object reuse rebinds the object
// before its next read.
Bytes creates_each_followed_by_a_read(std::map<std::uint64_t, std::u16string>& expected, int& network) {
  TraceFileBuilder builder(65536, true);
  std::int64_t clock = TraceFileBuilder::start_clock;
  std::uint32_t pid = 100000;
  for (const RecordedCreate& create : recorded_creates()) {
    builder.event(12, 1, 4, ++clock, create.payload);
    builder.event(15, 1, ++pid, ++clock, mirrow::test::io_event(8, 1, create.file_object, 0));
    const std::u16string path = expected_path(create.name);
    if (path.empty()) continue;
    expected[pid] = path;
    network += path.starts_with(u"\\\\");
  }
  return builder.bytes();
}

TEST_F(FixtureReplay, a_read_after_each_recorded_create_is_attributed_to_the_path_its_payload_named) {
  std::map<std::uint64_t, std::u16string> expected;
  int network = 0;
  const Bytes file = creates_each_followed_by_a_read(expected, network);
  const std::u16string devices = u"\\Device\\HarddiskVolume2=C:";
  std::string report;
  ASSERT_EQ(engine.replay_trace_file(file, report, &devices), 0u) << report;
  EXPECT_EQ(expected.size(), 501u + 61u);
  EXPECT_EQ(network, 61);
  std::map<std::uint64_t, std::u16string> attributed;
  for (std::string batch(engine.drain()); batch != "[]"; batch = std::string(engine.drain()))
    for (auto& [p, path] : paths_by_pid(batch)) attributed[p] = path;
  EXPECT_EQ(attributed, expected);
  EXPECT_EQ(engine.counter("malformed"), 0u);
}

// The recording's classic name events of the file-I/O class (create, delete
// and rundown), each read from its payload bytes here rather than by the
// decoder: the file key, one pointer wide, then the name.
struct RecordedName {
  std::uint8_t opcode = 0;
  std::uint64_t file_key = 0;
  std::u16string name;
};

std::vector<RecordedName> recorded_names() {
  constexpr std::uint8_t file_io_group = 4;
  std::vector<RecordedName> names;
  trace_file::Reader reader(trace_fixture());
  reader.read([&](const trace_file::Event& e) {
    if (e.provider != trace_file::kernel_group_guid(file_io_group)) return;
    if (e.opcode != 0 && e.opcode != 32 && e.opcode != 35 && e.opcode != 36) return;
    const std::size_t pointer = (e.flags & trace_file::flag_32bit_header) != 0 ? 4 : 8;
    if (e.user_data_length < pointer) return;
    RecordedName name;
    name.opcode = e.opcode;
    std::memcpy(&name.file_key, e.user_data, pointer);
    for (std::size_t at = pointer; at + 2 <= e.user_data_length; at += 2) {
      char16_t unit;
      std::memcpy(&unit, e.user_data + at, 2);
      if (unit == 0) break;
      name.name.push_back(unit);
    }
    names.push_back(std::move(name));
  });
  return names;
}

// Whether a normalised path lies under one of the fixture's two roots.
bool under_a_fixture_root(const std::u16string& path) {
  for (const std::u16string& root : {normalize_path(u"C:\\"), normalize_path(u"\\\\clrmain\\public")}) {
    if (path == root) return true;
    if (path.starts_with(root) && (root.ends_with(u'\\') || path[root.size()] == u'\\')) return true;
  }
  return false;
}

TEST_F(FixtureReplay, a_read_on_a_key_a_classic_name_event_named_is_attributed_to_that_events_own_path) {
  const std::vector<RecordedName> names = recorded_names();
  ASSERT_EQ(names.size(), 16u + 14u + 3054u);
  // The last name each key had; a delete ends the key's binding.
  std::map<std::uint64_t, const RecordedName*> last;
  for (const RecordedName& name : names) last[name.file_key] = &name;
  replay();
  drain_all(engine);
  // Every key on a share and every tenth on a drive, each read by a process
  // of its own on a file object the recording never names, so that only the
  // key can answer.
  std::map<std::uint64_t, std::u16string> expected;
  std::uint32_t pid = 200000;
  std::uint64_t file_object = 0x10;
  std::size_t nth = 0;
  int network = 0;
  for (const auto& [file_key, name] : last) {
    const std::u16string path = expected_path(name->name);
    const bool on_a_share = path.starts_with(u"\\\\");
    const bool sampled = nth++ % 10 == 0;
    if (name->opcode == 35 || !(on_a_share || sampled) || !under_a_fixture_root(path)) continue;
    network += on_a_share;
    const Bytes read = mirrow::test::io_event(8, 1, file_object += 0x10, file_key);
    engine.replay(15, 1, ++pid, seconds, read.data(), read.size());
    expected[pid] = path;
  }
  EXPECT_GE(expected.size(), 300u);
  EXPECT_EQ(network, 5);
  std::map<std::uint64_t, std::u16string> attributed;
  for (std::string batch(engine.drain()); batch != "[]"; batch = std::string(engine.drain()))
    for (auto& [p, path] : paths_by_pid(batch)) attributed[p] = path;
  EXPECT_EQ(attributed, expected);
  EXPECT_EQ(engine.counter("malformed"), 0u);
}

TEST_F(FixtureReplay, two_replays_give_byte_identical_drains) {
  // The recording holds creates alone, which bind names and report nothing.
  replay();
  EXPECT_EQ(drain_all(engine), "");
  std::map<std::uint64_t, std::u16string> expected;
  int network = 0;
  const Bytes file = creates_each_followed_by_a_read(expected, network);
  std::string drains[2];
  for (std::string& drain : drains) {
    NativeEngine fresh;
    fresh.set_own_pid(1);
    fresh.add_root(1, u"C:\\", true);
    fresh.add_root(2, u"\\\\clrmain\\public", true);
    std::string report;
    EXPECT_EQ(fresh.replay_trace_file(trace_fixture(), report), 0u);
    EXPECT_EQ(fresh.replay_trace_file(file, report), 0u);
    drain = drain_all(fresh);
  }
  EXPECT_EQ(drains[0], drains[1]);
  EXPECT_GT(drains[0].size(), 1000u);
}

TEST_F(FixtureReplay, device_entries_the_host_gives_replace_the_recordings_map) {
  engine.add_root(3, u"E:\\", true);
  const std::u16string devices = u"\\Device\\HarddiskVolume2=E:\r\n\\Device\\HarddiskVolume1=c:\\\n";
  const JsonValue report = replay(&devices);
  EXPECT_EQ(report["device_map"]["source"].text, u"option");
  EXPECT_EQ(report["device_map"]["entries"].items.size(), 2u);
  drain_all(engine);
  std::map<std::uint64_t, std::u16string> last_name;
  for (const RecordedCreate& create : recorded_creates()) last_name[create.file_object] = create.name;
  for (const auto& [file_object, raw] : last_name) {
    if (!raw.starts_with(u"\\Device\\HarddiskVolume2\\")) continue;
    const Bytes read = mirrow::test::io_event(8, 1, file_object, 0);
    engine.replay(15, 1, 4100, seconds, read.data(), read.size());
    const auto paths = paths_by_pid(std::string(engine.drain()));
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_EQ(paths.at(4100), normalize_path(u"E:" + raw.substr(23)));
    break;
  }
}

TEST(TraceReplay, a_file_without_a_volume_map_is_mapped_with_this_machines_own) {
  NativeEngine engine;
  engine.set_own_pid(1);
  engine.map_device(u"\\device\\harddiskvolume1", u"c:");
  engine.add_root(1, u"C:\\Data", true);
  const Bytes name = mirrow::test::name_event(8, 0xA0, u"\\Device\\HarddiskVolume1\\Data\\Report.txt");
  Bytes file = TraceFileBuilder().perfinfo(4, 0, TraceFileBuilder::start_clock + 1, name).bytes();
  std::string report;
  ASSERT_EQ(engine.replay_trace_file(file, report), 0u);
  const auto parsed = parse_strict_json(report);
  ASSERT_TRUE(parsed) << report;
  EXPECT_EQ((*parsed)["device_map"]["source"].text, u"local");
  EXPECT_EQ(engine.counter("classic_names"), 1u);
  const Bytes read = mirrow::test::io_event(8, 1, 0xB0, 0xA0);
  engine.replay(15, 1, 4100, seconds, read.data(), read.size());
  EXPECT_THAT(std::string(engine.drain()), ::testing::HasSubstr("c:\\\\data\\\\report.txt"));
}

TEST(TraceReplay, a_volume_mapping_of_the_kernels_configuration_group_maps_too_and_the_later_one_wins) {
  // A full 64-bit system header of group 0x0B, type 35: the device path and
  // the drive, each ended by a 0 unit.
  const auto mapping = [](std::u16string_view device, std::u16string_view drive) {
    Bytes record(32);
    record[0] = 2;
    record[2] = 0x02;
    record[3] = 0xC0;
    record[6] = 35;
    record[7] = 0x0B;
    const std::int64_t clock = TraceFileBuilder::start_clock + 1;
    std::memcpy(&record[16], &clock, 8);
    for (const std::u16string_view text : {device, drive}) {
      for (const char16_t unit : text) record.insert(record.end(), {static_cast<std::uint8_t>(unit), static_cast<std::uint8_t>(unit >> 8)});
      record.insert(record.end(), {0, 0});
    }
    const auto size = static_cast<std::uint16_t>(record.size());
    std::memcpy(&record[4], &size, 2);
    return record;
  };
  TraceFileBuilder builder;
  builder.raw_record(mapping(u"\\Device\\HarddiskVolume4\\", u"F:\\"));
  builder.raw_record(mapping(u"\\Device\\HarddiskVolume4\\", u"G:\\"));
  builder.raw_record(mapping(u"\\SystemRoot\\", u"C:\\Windows\\"));
  const Bytes file = builder.bytes();
  trace_file::Reader reader(file);
  const DeviceMap map = recorded_device_map(reader);
  ASSERT_EQ(map.size(), 1u);
  EXPECT_EQ(map[0].device, u"\\device\\harddiskvolume4");
  EXPECT_EQ(map[0].drive, u"g:");
}

TEST(TraceReplay, what_is_no_trace_or_a_bad_device_entry_is_refused_with_a_report_saying_why) {
  NativeEngine engine;
  std::string report;
  EXPECT_EQ(engine.replay_trace_file(Bytes(100, 1), report), 13u);
  EXPECT_THAT(report, ::testing::HasSubstr("\"problem\":\"not a trace file"));
  const std::u16string bad = u"C:=\\Device\\HarddiskVolume1";
  EXPECT_EQ(engine.replay_trace_file(trace_fixture(), report, &bad), 87u);
  EXPECT_THAT(report, ::testing::HasSubstr("not a device entry"));
  EXPECT_EQ(engine.counter("events"), 0u);
}

TEST(DeviceEntries, take_a_device_path_and_a_drive_in_any_of_its_spellings) {
  std::string problem;
  const auto map = parse_device_entries(u"\\Device\\HarddiskVolume3=D:\n\\DEVICE\\Harddisk\\Part=e:\\\n\n\\Device\\X=f", problem);
  ASSERT_TRUE(map) << problem;
  ASSERT_EQ(map->size(), 3u);
  EXPECT_EQ(map->front().device, u"\\device\\harddiskvolume3");  // the longest first
  EXPECT_EQ(map->front().drive, u"d:");
  for (const std::u16string_view bad : {u"\\Device\\A", u"=C:", u"\\Device\\A=", u"\\Device\\A=CC", u"\\??\\C:=D:",
                                        u"\\Device\\A=1:"}) {
    EXPECT_FALSE(parse_device_entries(bad, problem)) << std::string(bad.begin(), bad.end());
  }
}

}  // namespace
}  // namespace mirrow
