// Every export of Vantrel.dll, bound by name as a host binds them, fed what a
// careless host could hand it: null handles and out pointers, ids, kinds,
// counts and times out of range, paths of odd lengths and of broken UTF-16,
// and calls in the wrong state. Each row checks the documented result; after
// every row a fresh engine still replays and drains and a scanner still walks
// a small tree. Freed handles are never used.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "support/event_payloads.h"
#include "support/strict_json.h"
#include "support/sweep_rows.h"
#include "support/temp_dir_win.h"
#include "support/vantrel_api.h"

namespace mirrow::testing {
namespace {

using mirrow::test::Bytes;
namespace payload = mirrow::test;

constexpr uint32_t invalid = 87;
constexpr uint32_t already_running = 183;
constexpr uint32_t pid = 700;
constexpr double t0 = 1764979200.0;
constexpr uint64_t file_key = 0xFFFFA000;
constexpr uint64_t file_object = 0xFFFFB000;
constexpr uint64_t irp = 0xFFFFC000;
constexpr uint32_t status_not_found = 0xC0000034;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

VantrelApi& dll() { return vantrel(); }

// ---- what the rows share ----

// A directory for the whole program; odd paths are built below it.
const std::wstring& base() {
  static TempDir dir;
  return dir.path();
}

std::u16string u16(const std::wstring& s) { return std::u16string(s.begin(), s.end()); }

// The form the engine and the scanner report a path in, for the ASCII and
// lone-surrogate paths used here.
std::u16string normalised(const std::wstring& path) {
  std::u16string out;
  for (const wchar_t c : path) out += static_cast<char16_t>(c >= L'A' && c <= L'Z' ? c + 32 : c);
  return out;
}

void write_file(const std::wstring& path, const std::string& content = "x") {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
  DWORD written = 0;
  WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  CloseHandle(file);
}

std::optional<JsonValue> parsed(const char* text, uint64_t length) {
  if (text == nullptr) return std::nullopt;
  EXPECT_EQ(length, std::char_traits<char>::length(text));
  return parse_strict_json(std::string_view(text, length));
}

// One drain as JSON; an empty array on failure, with the failure reported.
JsonValue drain(vt_engine* engine) {
  uint64_t length = 12345;
  const char* text = dll().vt_drain(engine, &length);
  const auto value = parsed(text, length);
  EXPECT_TRUE(value && value->kind == JsonValue::Kind::array) << (text ? text : "<null>");
  if (value) return *value;
  JsonValue empty;
  empty.kind = JsonValue::Kind::array;
  return empty;
}

std::string drain_text(vt_engine* engine) {
  uint64_t length = 0;
  const char* text = dll().vt_drain(engine, &length);
  return text == nullptr ? "<null>" : std::string(text, length);
}

// Drained records as (path, kind, root) in drain order.
struct Drained {
  std::u16string path;
  std::string root, kind, pid, first;
};

std::vector<Drained> records(vt_engine* engine) {
  std::vector<Drained> out;
  for (const JsonValue& record : drain(engine).items) {
    EXPECT_EQ(record.items.size(), 8u);
    if (record.items.size() != 8) continue;
    out.push_back({record.items[2].text, record.items[1].literal, record.items[3].literal, record.items[4].literal,
                   record.items[0].literal});
  }
  return out;
}

// The only record of a drain; an empty one, and a failure, when there are more or none.
Drained single_record(vt_engine* engine) {
  const std::vector<Drained> drained = records(engine);
  EXPECT_EQ(drained.size(), 1u);
  return drained.size() == 1 ? drained[0] : Drained{};
}

std::array<uint64_t, 13> stats(vt_engine* engine) {
  std::array<uint64_t, 13> out{};
  EXPECT_EQ(dll().vt_stats(engine, out.data(), out.size()), 0u);
  return out;
}

constexpr std::size_t events = 0, errors = 1, capture_live = 8, healthy = 9, probe_seen = 10;

uint32_t replay(vt_engine* engine, uint16_t id, uint8_t version, const Bytes& bytes, double t = t0,
                uint32_t pointer_size = 8, uint32_t process_id = pid) {
  return dll().vt_replay(engine, id, version, pointer_size, process_id, t, bytes.data(), bytes.size());
}

// An engine with one root, stopped: what most rows start from.
class RootedEngine : public Engine {
 public:
  RootedEngine() { EXPECT_EQ(dll().vt_root(get(), 3, base().c_str(), 0), 0u); }
};

// A scanner walk driven to its end; the batches as JSON.
std::vector<JsonValue> walk(vt_scanner* scanner, std::size_t limit = 100) {
  std::vector<JsonValue> batches;
  for (std::size_t i = 0; i < limit; ++i) {
    uint64_t length = 12345;
    const char* text = dll().vt_scan_next(scanner, &length);
    const auto batch = parsed(text, length);
    EXPECT_TRUE(batch) << (text ? text : "<null>");
    if (!batch) break;
    batches.push_back(*batch);
    if ((*batch)["done"].boolean) break;
  }
  return batches;
}

// A whole walk of root by a fresh scanner; before gets the scanner first.
std::vector<JsonValue> walk_root(const std::wstring& root, const std::function<void(vt_scanner*)>& before = {}) {
  vt_scanner* scanner = dll().vt_scan_create(root.c_str());
  EXPECT_NE(scanner, nullptr);
  if (scanner == nullptr) return {};
  if (before) before(scanner);
  std::vector<JsonValue> batches = walk(scanner);
  dll().vt_scan_destroy(scanner);
  return batches;
}

// The totals of one batch.
void expect_totals(const JsonValue& batch, const char* files, const char* errors, bool done = true) {
  EXPECT_EQ(batch["files"].literal, files);
  EXPECT_EQ(batch["errors"].literal, errors);
  EXPECT_EQ(batch["done"].kind, JsonValue::Kind::boolean);
  EXPECT_EQ(batch["done"].boolean, done);
}

std::vector<std::u16string> walked_paths(const std::vector<JsonValue>& batches) {
  std::vector<std::u16string> paths;
  for (const JsonValue& batch : batches)
    for (const JsonValue& record : batch["records"].items) paths.push_back(record.items[0].text);
  return paths;
}

// ---- the check after every row ----

void engine_still_replays_and_drains() {
  Engine engine;
  ASSERT_NE(engine.get(), nullptr);
  ASSERT_EQ(dll().vt_root(engine, 9, L"C:\\Health", 0), 0u);
  ASSERT_EQ(replay(engine, 10, 0, payload::name_event(8, file_key, u"C:\\Health\\a.txt")), 0u);
  ASSERT_EQ(replay(engine, 15, 1, payload::io_event(8, 1, file_object, file_key), t0 + 1), 0u);
  const Drained record = single_record(engine);
  EXPECT_EQ(record.path, u"c:\\health\\a.txt");
  EXPECT_EQ(record.root, "9");
  EXPECT_EQ(record.kind, "1");
  EXPECT_EQ(stats(engine)[errors], 0u);
}

void scanner_still_walks_a_small_tree() {
  TempDir tree;
  write_file(tree / L"one.txt", "abc");
  const auto batches = walk_root(tree.path());
  ASSERT_EQ(batches.size(), 1u);
  EXPECT_EQ(walked_paths(batches), std::vector<std::u16string>{normalised(tree / L"one.txt")});
  expect_totals(batches[0], "1", "0");
  EXPECT_EQ(batches[0]["bytes"].literal, "3");
}

// ---- the table ----

using Row = SweepRow;

class Sweep : public ::testing::TestWithParam<Row> {};

TEST_P(Sweep, gives_the_documented_result_and_leaves_the_library_working) {
  GetParam().run();
  engine_still_replays_and_drains();
  scanner_still_walks_a_small_tree();
}

// ---- null handles ----

// A text export called with a null handle: null, with the length set to 0.
template <typename Text>
void expect_no_text_for_null(Text text) {
  uint64_t length = 99;
  EXPECT_EQ(text(nullptr, &length), nullptr);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(text(nullptr, nullptr), nullptr);
}

std::vector<Row> null_handle_rows() {
  const uint8_t byte = 0;
  return {
      {"vt_destroy_of_null_does_nothing", [] { dll().vt_destroy(nullptr); }},
      {"vt_start_of_null_is_87_and_leaves_no_error_text",
       [] {
         EXPECT_EQ(dll().vt_start(nullptr, 0, 0), invalid);
         EXPECT_EQ(dll().vt_start(nullptr, 1, 1), invalid);
         EXPECT_STREQ(dll().vt_error(), "");
       }},
      {"vt_stop_of_null_does_nothing", [] { dll().vt_stop(nullptr); }},
      {"vt_root_of_null_is_87", [] { EXPECT_EQ(dll().vt_root(nullptr, 1, L"c:\\x", 0), invalid); }},
      {"vt_exclude_of_null_is_87", [] { EXPECT_EQ(dll().vt_exclude(nullptr, L"c:\\x"), invalid); }},
      {"vt_missing_of_null_does_nothing",
       [] {
         dll().vt_missing(nullptr, L"c:\\x");
         dll().vt_missing(nullptr, nullptr);
       }},
      {"vt_missing_clear_of_null_does_nothing", [] { dll().vt_missing_clear(nullptr); }},
      {"vt_probe_of_null_does_nothing",
       [] {
         dll().vt_probe(nullptr, L"c:\\x");
         dll().vt_probe(nullptr, nullptr);
       }},
      {"vt_drain_of_null_is_null_with_length_0", [] { expect_no_text_for_null(dll().vt_drain); }},
      {"vt_stats_of_null_is_87_and_writes_nothing",
       [] {
         std::array<uint64_t, 13> out;
         out.fill(99);
         EXPECT_EQ(dll().vt_stats(nullptr, out.data(), out.size()), invalid);
         EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint64_t v) { return v == 99; }));
       }},
      {"vt_diagnostics_of_null_is_null_with_length_0", [] { expect_no_text_for_null(dll().vt_diagnostics); }},
      {"vt_replay_of_null_is_87", [=] { EXPECT_EQ(dll().vt_replay(nullptr, 15, 1, 8, pid, t0, &byte, 1), invalid); }},
      {"vt_replay_many_of_null_is_87",
       [=] { EXPECT_EQ(dll().vt_replay_many(nullptr, 15, 1, 8, pid, t0, &byte, 1, 3), invalid); }},
      {"vt_test_emit_of_null_is_87", [] { EXPECT_EQ(dll().vt_test_emit(nullptr, L"c:\\x", 1, pid, t0), invalid); }},
      {"vt_test_recovery_of_null_is_87", [] { EXPECT_EQ(dll().vt_test_recovery(nullptr, 1), invalid); }},
      {"vt_scan_create_of_a_null_root_is_null", [] { EXPECT_EQ(dll().vt_scan_create(nullptr), nullptr); }},
      {"vt_scan_exclude_of_a_null_scanner_does_nothing",
       [] {
         dll().vt_scan_exclude(nullptr, L"c:\\x");
         dll().vt_scan_exclude(nullptr, nullptr);
       }},
      {"vt_scan_next_of_a_null_scanner_is_null_with_length_0", [] { expect_no_text_for_null(dll().vt_scan_next); }},
      {"vt_scan_destroy_of_null_does_nothing", [] { dll().vt_scan_destroy(nullptr); }},
      {"vt_scan_create_with_of_a_null_root_or_an_unknown_way_is_null",
       [] {
         EXPECT_EQ(dll().vt_scan_create_with(nullptr, 0, nullptr, 0), nullptr);
         EXPECT_EQ(dll().vt_scan_create_with(L"c:\\x", 2, nullptr, 0), nullptr);
       }},
      {"vt_scan_way_of_a_null_scanner_is_null_with_length_0", [] { expect_no_text_for_null(dll().vt_scan_way); }},
  };
}

INSTANTIATE_TEST_SUITE_P(NullHandles, Sweep, ::testing::ValuesIn(null_handle_rows()), sweep_row_name);

// ---- null arguments and out pointers ----

std::vector<Row> null_argument_rows() {
  return {
      {"vt_root_with_a_null_path_is_87_and_adds_no_root",
       [] {
         Engine engine;
         EXPECT_EQ(dll().vt_root(engine, 1, nullptr, 0), invalid);
         // No root was added: the start watches nothing and succeeds.
         EXPECT_EQ(dll().vt_start(engine, 0, 0), 0u);
       }},
      {"vt_exclude_with_a_null_path_is_87_and_hides_nothing",
       [] {
         RootedEngine engine;
         EXPECT_EQ(dll().vt_exclude(engine, nullptr), invalid);
         EXPECT_EQ(dll().vt_test_emit(engine, (base() + L"\\kept").c_str(), 1, pid, t0), 0u);
         EXPECT_EQ(records(engine).size(), 1u);
       }},
      {"vt_missing_with_a_null_path_is_one_error_and_keeps_the_others",
       [] {
         RootedEngine engine;
         const std::wstring waited = base() + L"\\waited.txt";
         dll().vt_missing(engine, waited.c_str());
         dll().vt_missing(engine, nullptr);
         EXPECT_EQ(stats(engine)[errors], 1u);
         ASSERT_EQ(dll().vt_test_recovery(engine, 1), 0u);
         replay(engine, 12, 1, payload::create_event(8, 1, irp, file_object, u16(waited)));
         replay(engine, 24, 0, payload::operation_end_event(8, irp, status_not_found), t0 + 0.5);
         const Drained record = single_record(engine);
         EXPECT_EQ(record.kind, "6");
       }},
      {"vt_probe_with_null_clears_the_probe",
       [] {
         Engine engine;
         dll().vt_probe(engine, L"c:\\probe.txt");
         dll().vt_probe(engine, nullptr);
         ASSERT_EQ(dll().vt_test_emit(engine, L"c:\\probe.txt", 1, pid, t0), 0u);
         EXPECT_EQ(stats(engine)[probe_seen], 0u);
         EXPECT_EQ(stats(engine)[errors], 0u);
       }},
      {"vt_drain_with_a_null_length_still_hands_out_the_records",
       [] {
         RootedEngine engine;
         ASSERT_EQ(dll().vt_test_emit(engine, (base() + L"\\a").c_str(), 1, pid, t0), 0u);
         const char* text = dll().vt_drain(engine, nullptr);
         ASSERT_NE(text, nullptr);
         const auto value = parse_strict_json(text);
         ASSERT_TRUE(value);
         EXPECT_EQ(value->items.size(), 1u);
         EXPECT_EQ(drain_text(engine), "[]");
       }},
      {"vt_diagnostics_with_a_null_length_still_hands_out_the_document",
       [] {
         Engine engine;
         const char* text = dll().vt_diagnostics(engine, nullptr);
         ASSERT_NE(text, nullptr);
         EXPECT_TRUE(parse_strict_json(text));
       }},
      {"vt_stats_with_a_null_array_is_87_whatever_the_count",
       [] {
         Engine engine;
         EXPECT_EQ(dll().vt_stats(engine, nullptr, 0), invalid);
         EXPECT_EQ(dll().vt_stats(engine, nullptr, 13), invalid);
         EXPECT_EQ(dll().vt_stats(engine, nullptr, UINT64_MAX), invalid);
       }},
      {"vt_replay_with_a_null_payload_and_any_length_is_87_and_counts_nothing",
       [] {
         Engine engine;
         EXPECT_EQ(dll().vt_replay(engine, 15, 1, 8, pid, t0, nullptr, 1), invalid);
         EXPECT_EQ(dll().vt_replay(engine, 15, 1, 8, pid, t0, nullptr, UINT64_MAX), invalid);
         EXPECT_EQ(dll().vt_replay_many(engine, 15, 1, 8, pid, t0, nullptr, UINT64_MAX, 0), invalid);
         EXPECT_EQ(stats(engine)[events], 0u);
       }},
      {"vt_replay_with_a_null_payload_of_length_0_is_one_malformed_event",
       [] {
         Engine engine;
         EXPECT_EQ(dll().vt_replay(engine, 15, 1, 8, pid, t0, nullptr, 0), 0u);
         EXPECT_EQ(stats(engine)[events], 1u);
         EXPECT_EQ(stats(engine)[errors], 1u);
       }},
      {"vt_test_emit_with_a_null_path_is_87",
       [] {
         RootedEngine engine;
         EXPECT_EQ(dll().vt_test_emit(engine, nullptr, 1, pid, t0), invalid);
         EXPECT_EQ(drain_text(engine), "[]");
       }},
      {"vt_scan_exclude_of_a_null_path_is_one_error_and_hides_nothing",
       [] {
         TempDir tree;
         write_file(tree / L"a.txt");
         const auto batches =
             walk_root(tree.path(), [&](vt_scanner* scanner) { dll().vt_scan_exclude(scanner, nullptr); });
         ASSERT_FALSE(batches.empty());
         EXPECT_EQ(walked_paths(batches).size(), 1u);
         expect_totals(batches.back(), "1", "1");
       }},
      {"vt_scan_next_with_a_null_length_is_null_one_error_and_does_not_advance",
       [] {
         TempDir tree;
         write_file(tree / L"a.txt");
         vt_scanner* scanner = dll().vt_scan_create(tree.path().c_str());
         ASSERT_NE(scanner, nullptr);
         EXPECT_EQ(dll().vt_scan_next(scanner, nullptr), nullptr);
         EXPECT_EQ(dll().vt_scan_next(scanner, nullptr), nullptr);
         const auto batches = walk(scanner);
         dll().vt_scan_destroy(scanner);
         EXPECT_EQ(walked_paths(batches), std::vector<std::u16string>{normalised(tree / L"a.txt")});
         ASSERT_FALSE(batches.empty());
         expect_totals(batches.back(), "1", "2");
       }},
  };
}

INSTANTIATE_TEST_SUITE_P(NullArguments, Sweep, ::testing::ValuesIn(null_argument_rows()), sweep_row_name);

// ---- ids, kinds, counts, sizes and times out of range ----

std::vector<Row> range_rows() {
  std::vector<Row> rows = {
      {"vt_root_refuses_ids_below_1_with_87",
       [] {
         Engine engine;
         for (const int64_t id : {int64_t{0}, int64_t{-1}, INT64_MIN})
           EXPECT_EQ(dll().vt_root(engine, id, base().c_str(), 0), invalid) << id;
         EXPECT_EQ(dll().vt_test_emit(engine, (base() + L"\\a").c_str(), 1, pid, t0), 0u);
         EXPECT_EQ(drain_text(engine), "[]");
       }},
      {"vt_root_takes_the_largest_id_and_reports_it_whole",
       [] {
         Engine engine;
         ASSERT_EQ(dll().vt_root(engine, INT64_MAX, base().c_str(), 0), 0u);
         ASSERT_EQ(dll().vt_test_emit(engine, (base() + L"\\a").c_str(), 1, pid, t0), 0u);
         const Drained record = single_record(engine);
         EXPECT_EQ(record.root, "9223372036854775807");
       }},
      {"vt_root_takes_any_non_zero_flag_as_true",
       [] {
         Engine engine;
         ASSERT_EQ(dll().vt_root(engine, 1, base().c_str(), INT32_MIN), 0u);
         ASSERT_EQ(dll().vt_root(engine, 2, (base() + L"\\sub").c_str(), 0), 0u);
         ASSERT_EQ(dll().vt_test_emit(engine, (base() + L"\\sub\\a").c_str(), 1, pid, t0), 0u);
         const Drained record = single_record(engine);
         EXPECT_EQ(record.root, "1") << "a flagged root is matched before a longer unflagged one";
       }},
      {"vt_test_emit_refuses_kinds_outside_1_to_10_with_87",
       [] {
         RootedEngine engine;
         for (const int32_t kind : {0, 11, -1, 255, INT32_MIN, INT32_MAX})
           EXPECT_EQ(dll().vt_test_emit(engine, (base() + L"\\a").c_str(), kind, pid, t0), invalid) << kind;
         EXPECT_EQ(drain_text(engine), "[]");
         EXPECT_EQ(stats(engine)[errors], 0u);
       }},
      {"vt_test_emit_refuses_times_that_are_not_finite_with_87",
       [] {
         RootedEngine engine;
         for (const double t : {nan, inf, -inf})
           EXPECT_EQ(dll().vt_test_emit(engine, (base() + L"\\a").c_str(), 1, pid, t), invalid) << t;
         EXPECT_EQ(drain_text(engine), "[]");
       }},
      {"vt_test_emit_takes_the_largest_process_id",
       [] {
         RootedEngine engine;
         ASSERT_EQ(dll().vt_test_emit(engine, (base() + L"\\a").c_str(), 1, UINT32_MAX, t0), 0u);
         const Drained record = single_record(engine);
         EXPECT_EQ(record.pid, "4294967295");
       }},
      {"vt_test_emit_of_the_librarys_own_process_is_accepted_and_never_reported",
       [] {
         RootedEngine engine;
         EXPECT_EQ(dll().vt_test_emit(engine, (base() + L"\\a").c_str(), 1, GetCurrentProcessId(), t0), 0u);
         EXPECT_EQ(drain_text(engine), "[]");
       }},
      {"vt_stats_refuses_fewer_than_13_slots_with_87_and_writes_nothing",
       [] {
         Engine engine;
         std::array<uint64_t, 13> out;
         out.fill(99);
         for (uint64_t count = 0; count < 13; ++count) EXPECT_EQ(dll().vt_stats(engine, out.data(), count), invalid);
         EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint64_t v) { return v == 99; }));
       }},
      {"vt_stats_with_the_largest_count_writes_exactly_13",
       [] {
         Engine engine;
         std::array<uint64_t, 16> out;
         out.fill(99);
         EXPECT_EQ(dll().vt_stats(engine, out.data(), UINT64_MAX), 0u);
         for (std::size_t i = 0; i < 13; ++i) EXPECT_EQ(out[i], 0u) << i;
         for (std::size_t i = 13; i < out.size(); ++i) EXPECT_EQ(out[i], 99u) << i;
       }},
      {"vt_replay_of_event_ids_the_engine_does_not_use_is_counted_and_ignored",
       [] {
         RootedEngine engine;
         const Bytes bytes = payload::name_event(8, file_key, u16(base() + L"\\a"));
         for (const uint16_t id :
              {uint16_t{0}, uint16_t{9}, uint16_t{13}, uint16_t{31}, uint16_t{1000}, uint16_t{0xFFFF}})
           EXPECT_EQ(replay(engine, id, 0, bytes), 0u) << id;
         EXPECT_EQ(stats(engine)[events], 6u);
         EXPECT_EQ(stats(engine)[errors], 0u);
         EXPECT_EQ(drain_text(engine), "[]");
       }},
      {"vt_replay_of_versions_beyond_the_last_is_an_unsupported_error",
       [] {
         Engine engine;
         const Bytes bytes = payload::io_event(8, 1, file_object, file_key);
         for (const uint8_t version : {uint8_t{2}, uint8_t{200}, uint8_t{255}})
           EXPECT_EQ(replay(engine, 15, version, bytes), 0u);
         EXPECT_EQ(replay(engine, 10, 1, payload::name_event(8, file_key, u"c:\\a")), 0u);
         EXPECT_EQ(stats(engine)[errors], 4u);
         uint64_t length = 0;
         EXPECT_NE(std::string(dll().vt_diagnostics(engine, &length)).find("\"unsupported\":4,"), std::string::npos);
       }},
      {"vt_replay_of_pointer_sizes_other_than_4_and_8_is_a_malformed_error",
       [] {
         Engine engine;
         const Bytes bytes = payload::io_event(8, 1, file_object, file_key);
         for (const uint32_t size : {0u, 1u, 3u, 16u, 0x80000000u, UINT32_MAX})
           EXPECT_EQ(replay(engine, 15, 1, bytes, t0, size), 0u) << size;
         EXPECT_EQ(stats(engine)[errors], 6u);
         uint64_t length = 0;
         EXPECT_NE(std::string(dll().vt_diagnostics(engine, &length)).find("\"malformed\":6,"), std::string::npos);
       }},
      {"vt_replay_of_times_that_are_not_finite_or_negative_is_an_error_and_records_nothing",
       [] {
         RootedEngine engine;
         const Bytes name = payload::name_event(8, file_key, u16(base() + L"\\a"));
         const Bytes read = payload::io_event(8, 1, file_object, file_key);
         for (const double t : {nan, inf, -inf, -1.0, -1e300}) {
           EXPECT_EQ(replay(engine, 10, 0, name, t), 0u) << t;
           EXPECT_EQ(replay(engine, 15, 1, read, t), 0u) << t;
         }
         EXPECT_EQ(stats(engine)[errors], 10u);
         EXPECT_EQ(drain_text(engine), "[]");
       }},
      {"vt_replay_of_a_huge_time_binds_and_is_reported_at_that_time",
       [] {
         for (const double t : {1e100, 1e300, 1.7976931348623157e308}) {
           RootedEngine engine;
           ASSERT_EQ(replay(engine, 10, 0, payload::name_event(8, file_key, u16(base() + L"\\a")), t), 0u);
           ASSERT_EQ(replay(engine, 15, 1, payload::io_event(8, 1, file_object, file_key), t), 0u);
           const Drained record = single_record(engine);
           EXPECT_EQ(std::strtod(record.first.c_str(), nullptr), t) << record.first;
           EXPECT_EQ(stats(engine)[errors], 0u);
         }
       }},
      {"vt_replay_many_refuses_more_than_ten_million_repeats_with_87_and_counts_nothing",
       [] {
         Engine engine;
         const uint8_t byte = 0;
         for (const uint32_t repeat : {10000001u, 0x80000000u, UINT32_MAX})
           EXPECT_EQ(dll().vt_replay_many(engine, 13, 0, 8, pid, t0, &byte, 1, repeat), invalid) << repeat;
         EXPECT_EQ(stats(engine)[events], 0u);
       }},
      {"vt_replay_many_of_0_repeats_does_nothing",
       [] {
         Engine engine;
         const uint8_t byte = 0;
         EXPECT_EQ(dll().vt_replay_many(engine, 15, 1, 8, pid, t0, &byte, 1, 0), 0u);
         EXPECT_EQ(stats(engine)[events], 0u);
       }},
      {"vt_replay_many_of_an_unused_id_counts_every_repeat",
       [] {
         Engine engine;
         const uint8_t byte = 0;
         EXPECT_EQ(dll().vt_replay_many(engine, 0xFFFF, 0, 8, pid, t0, &byte, 1, 1000), 0u);
         EXPECT_EQ(stats(engine)[events], 1000u);
         EXPECT_EQ(stats(engine)[errors], 0u);
       }},
      {"vt_replay_many_of_a_bad_time_counts_one_error_per_repeat",
       [] {
         Engine engine;
         const Bytes read = payload::io_event(8, 1, file_object, file_key);
         EXPECT_EQ(dll().vt_replay_many(engine, 15, 1, 8, pid, nan, read.data(), read.size(), 500), 0u);
         EXPECT_EQ(stats(engine)[events], 500u);
         EXPECT_EQ(stats(engine)[errors], 500u);
       }},
      {"vt_test_recovery_takes_any_non_zero_value_as_on",
       [] {
         RootedEngine engine;
         const std::wstring waited = base() + L"\\waited.txt";
         dll().vt_missing(engine, waited.c_str());
         ASSERT_EQ(dll().vt_test_recovery(engine, INT32_MIN), 0u);
         replay(engine, 12, 1, payload::create_event(8, 1, irp, file_object, u16(waited)));
         replay(engine, 24, 0, payload::operation_end_event(8, irp, status_not_found), t0 + 0.5);
         EXPECT_EQ(records(engine).size(), 1u);
       }},
      {"vt_start_takes_any_non_zero_capture_as_true",
       [] {
         Engine engine;
         const uint32_t with_one = dll().vt_start(engine, 1, 0);
         dll().vt_stop(engine);
         EXPECT_EQ(dll().vt_start(engine, INT32_MIN, INT32_MIN), with_one);
         EXPECT_EQ(stats(engine)[healthy], 1u);
       }},
  };
  // Times a host may hand vt_test_emit: each is accepted and read back unchanged.
  const std::pair<const char*, double> times[] = {
      {"minus_one", -1.0},
      {"minus_zero", -0.0},
      {"huge", 1e300},
      {"most_negative", -1.7976931348623157e308},
      {"largest", 1.7976931348623157e308},
      {"smallest_subnormal", 4.9406564584124654e-324},
  };
  for (const auto& [label, t] : times) {
    rows.push_back({std::string("vt_test_emit_takes_the_") + label + "_time_and_drains_it_unchanged", [t = t] {
                      RootedEngine engine;
                      ASSERT_EQ(dll().vt_test_emit(engine, (base() + L"\\a").c_str(), 2, pid, t), 0u);
                      const Drained record = single_record(engine);
                      EXPECT_EQ(std::strtod(record.first.c_str(), nullptr), t) << record.first;
                    }});
  }
  return rows;
}

INSTANTIATE_TEST_SUITE_P(OutOfRange, Sweep, ::testing::ValuesIn(range_rows()), sweep_row_name);

// ---- odd paths in every path argument ----

struct OddPath {
  const char* label;
  std::function<std::wstring()> make;
  bool below_base;             // classified under a root at base()
  uint32_t start_status;       // of a start with this root; 0: some directory-open error
  const char16_t* scan_error;  // the scan sample after the path
};

constexpr const char16_t* unavailable = u": unavailable, reparse or offline ancestor";
constexpr const char16_t* too_long = u": FindFirstFile: 206";
constexpr const char16_t* invalid_name = u": FindFirstFile: 123";

// base()\aaa...\aaa of exactly that many units, in segments of 200.
std::wstring path_of_units(std::size_t units) {
  std::wstring path = base();
  while (path.size() < units) {
    path += L'\\';
    path.append(std::min<std::size_t>(200, units - path.size()), L'a');
  }
  if (path.back() == L'\\') path.back() = L'b';
  return path;
}

const std::vector<OddPath>& odd_paths() {
  static const std::vector<OddPath> paths = {
      {"an_empty_path", [] { return std::wstring(); }, false, ERROR_INVALID_NAME, invalid_name},
      {"a_path_of_one_unit", [] { return std::wstring(L"x"); }, false, ERROR_INVALID_NAME, invalid_name},
      {"a_path_of_32767_units", [] { return path_of_units(32767); }, true, ERROR_FILENAME_EXCED_RANGE, too_long},
      {"a_path_of_100000_units", [] { return path_of_units(100000); }, true, ERROR_FILENAME_EXCED_RANGE, too_long},
      {"a_lone_high_surrogate",
       [] {
         return base() +
                L"\\a\xD800"
                L"b";
       },
       true, ERROR_FILE_NOT_FOUND, unavailable},
      {"a_lone_high_surrogate_as_its_last_unit", [] { return base() + L"\\a\xDBFF"; }, true, ERROR_FILE_NOT_FOUND,
       unavailable},
      {"a_lone_low_surrogate",
       [] {
         return base() +
                L"\\a\xDC00"
                L"b";
       },
       true, ERROR_FILE_NOT_FOUND, unavailable},
      {"a_reversed_surrogate_pair",
       [] {
         return base() +
                L"\\a\xDC00\xD800"
                L"b";
       },
       true, ERROR_FILE_NOT_FOUND, unavailable},
  };
  return paths;
}

std::vector<Row> odd_path_rows() {
  std::vector<Row> rows;
  for (const OddPath& odd : odd_paths()) {
    const std::string of = std::string("_of_") + odd.label;
    rows.push_back({"vt_root" + of + "_is_taken_and_a_start_fails_leaving_the_engine_stopped", [odd] {
                      const std::wstring path = odd.make();
                      Engine engine;
                      ASSERT_EQ(dll().vt_root(engine, 1, path.c_str(), 0), 0u);
                      const uint32_t status = dll().vt_start(engine, 0, 0);
                      if (odd.start_status != 0) {
                        EXPECT_EQ(status, odd.start_status);
                      }
                      EXPECT_NE(status, 0u);
                      EXPECT_NE(status, already_running);
                      EXPECT_STREQ(dll().vt_error(), "");
                      EXPECT_EQ(stats(engine)[healthy], 0u);
                      // Stopped: configuration and emits are taken again.
                      EXPECT_EQ(dll().vt_root(engine, 2, base().c_str(), 0), 0u);
                      EXPECT_EQ(dll().vt_test_emit(engine, (base() + L"\\z").c_str(), 1, pid, t0), 0u);
                    }});
    rows.push_back({"vt_exclude" + of + "_is_taken_and_hides_only_that_path", [odd] {
                      const std::wstring path = odd.make();
                      RootedEngine engine;
                      ASSERT_EQ(dll().vt_exclude(engine, path.c_str()), 0u);
                      ASSERT_EQ(dll().vt_test_emit(engine, path.c_str(), 1, pid, t0), 0u);
                      ASSERT_EQ(dll().vt_test_emit(engine, (base() + L"\\kept").c_str(), 1, pid, t0), 0u);
                      const Drained record = single_record(engine);
                      EXPECT_EQ(record.path, normalised(base() + L"\\kept"));
                    }});
    rows.push_back({"vt_missing" + of + "_is_watched_for_failed_opens", [odd] {
                      const std::wstring path = odd.make();
                      RootedEngine engine;
                      dll().vt_missing(engine, path.c_str());
                      ASSERT_EQ(dll().vt_test_recovery(engine, 1), 0u);
                      replay(engine, 12, 1, payload::create_event(8, 1, irp, file_object, u16(path)));
                      replay(engine, 24, 0, payload::operation_end_event(8, irp, status_not_found), t0 + 0.5);
                      EXPECT_EQ(stats(engine)[errors], 0u);
                      const auto drained = records(engine);
                      ASSERT_EQ(drained.size(), odd.below_base ? 1u : 0u);
                      if (drained.empty()) return;
                      EXPECT_EQ(drained[0].path, normalised(path));
                      EXPECT_EQ(drained[0].kind, "6");
                    }});
    rows.push_back({"vt_probe" + of + "_is_seen_when_that_path_is_read", [odd] {
                      const std::wstring path = odd.make();
                      Engine engine;
                      dll().vt_probe(engine, path.c_str());
                      ASSERT_EQ(dll().vt_test_emit(engine, path.c_str(), 1, pid, t0), 0u);
                      // An empty probe is no probe.
                      EXPECT_EQ(stats(engine)[probe_seen], path.empty() ? 0u : 1u);
                      EXPECT_EQ(stats(engine)[errors], 0u);
                    }});
    rows.push_back({"vt_test_emit" + of + "_is_drained_as_escapes_when_under_a_root", [odd] {
                      const std::wstring path = odd.make();
                      RootedEngine engine;
                      ASSERT_EQ(dll().vt_test_emit(engine, path.c_str(), 4, pid, t0), 0u);
                      const auto drained = records(engine);
                      ASSERT_EQ(drained.size(), odd.below_base ? 1u : 0u);
                      if (drained.empty()) return;
                      EXPECT_EQ(drained[0].path, normalised(path));
                    }});
    rows.push_back({"vt_scan_create" + of + "_walks_to_one_error_with_its_sample_and_is_done", [odd] {
                      const std::wstring path = odd.make();
                      const auto batches = walk_root(path);
                      ASSERT_EQ(batches.size(), 1u);
                      expect_totals(batches[0], "0", "1");
                      ASSERT_EQ(batches[0]["samples"].items.size(), 1u);
                      EXPECT_EQ(batches[0]["samples"].items[0].text, normalised(path) + odd.scan_error);
                    }});
    rows.push_back({"vt_scan_exclude" + of + "_is_taken_and_hides_nothing_else", [odd] {
                      const std::wstring path = odd.make();
                      TempDir tree;
                      write_file(tree / L"a.txt");
                      const auto batches = walk_root(
                          tree.path(), [&](vt_scanner* scanner) { dll().vt_scan_exclude(scanner, path.c_str()); });
                      EXPECT_EQ(walked_paths(batches), std::vector<std::u16string>{normalised(tree / L"a.txt")});
                      ASSERT_FALSE(batches.empty());
                      expect_totals(batches.back(), "1", "0");
                    }});
  }
  return rows;
}

INSTANTIATE_TEST_SUITE_P(OddPaths, Sweep, ::testing::ValuesIn(odd_path_rows()), sweep_row_name);

// Names that are not one absolute place must never reach the system in the
// long-path form, which takes them literally: a relative name is looked up
// among the system's device names, "." and ".." are not resolved.
std::vector<Row> not_one_place_rows() {
  const std::pair<const char*, std::wstring> roots[] = {
      {"a_dot", L"."},
      {"two_dots", L".."},
      {"a_device_name", L"nul"},
      {"a_drive_without_its_root", L"C:"},
      {"a_dot_dot_component", L"c:\\windows\\..\\users"},
      {"a_dot_component", L"c:\\users\\.\\public"},
      {"an_empty_component", L"c:\\users\\\\public"},
      {"the_device_namespace", L"\\\\.\\nul"},
      {"two_back_slashes_alone", L"\\\\"},
  };
  std::vector<Row> rows = {
      {"a_volume_path_is_handed_to_the_system_and_answered_by_it",
       [] {
         wchar_t volume[MAX_PATH] = {};
         ASSERT_TRUE(GetVolumeNameForVolumeMountPointW(L"C:\\", volume, MAX_PATH));
         const std::wstring root = std::wstring(volume) + L"windows";
         Engine engine;
         ASSERT_EQ(dll().vt_root(engine, 1, root.c_str(), 0), 0u);
         const uint32_t status = dll().vt_start(engine, 0, 0);
         EXPECT_NE(status, static_cast<uint32_t>(ERROR_INVALID_NAME));
         EXPECT_NE(status, static_cast<uint32_t>(ERROR_FILENAME_EXCED_RANGE));
         const auto batches = walk_root(root);
         ASSERT_FALSE(batches.empty());
         for (const JsonValue& sample : batches.back()["samples"].items)
           EXPECT_FALSE(sample.text.ends_with(invalid_name))
               << std::string(sample.text.begin(), sample.text.end());
       }},
  };
  for (const auto& [label, root] : roots) {
    rows.push_back({std::string("a_root_of_") + label + "_fails_the_start_with_123", [root = root] {
                      Engine engine;
                      ASSERT_EQ(dll().vt_root(engine, 1, root.c_str(), 0), 0u);
                      EXPECT_EQ(dll().vt_start(engine, 0, 0), static_cast<uint32_t>(ERROR_INVALID_NAME));
                      EXPECT_EQ(stats(engine)[healthy], 0u);
                    }});
    rows.push_back({std::string("a_scan_root_of_") + label + "_is_one_123_error", [root = root] {
                      const auto batches = walk_root(root);
                      ASSERT_EQ(batches.size(), 1u);
                      EXPECT_TRUE(walked_paths(batches).empty());
                      expect_totals(batches[0], "0", "1");
                      ASSERT_EQ(batches[0]["samples"].items.size(), 1u);
                      EXPECT_EQ(batches[0]["samples"].items[0].text, normalised(root) + invalid_name);
                    }});
  }
  return rows;
}

INSTANTIATE_TEST_SUITE_P(NotOnePlace, Sweep, ::testing::ValuesIn(not_one_place_rows()), sweep_row_name);

// Paths longer than the system takes must never reach it: cut short on the
// way, they would name one of their own ancestors or siblings instead.
std::vector<Row> overlong_path_rows() {
  return {
      {"a_root_longer_than_the_system_takes_fails_the_start_with_206_even_when_a_prefix_of_it_exists",
       [] {
         TempDir prefix;
         const std::wstring root = prefix.path() + L"\\" + std::wstring(32767, L'a');
         Engine engine;
         ASSERT_EQ(dll().vt_root(engine, 1, root.c_str(), 0), 0u);
         EXPECT_EQ(dll().vt_start(engine, 0, 0), static_cast<uint32_t>(ERROR_FILENAME_EXCED_RANGE));
         EXPECT_EQ(stats(engine)[healthy], 0u);
       }},
      {"a_scan_root_longer_than_the_system_takes_is_one_206_error_even_when_a_prefix_of_it_exists",
       [] {
         TempDir prefix;
         write_file(prefix / L"file.t");
         write_file(prefix / L"file.txt");
         const std::wstring root = prefix.path() + L"\\file.txt" + std::wstring(32766, L'x');
         const auto batches = walk_root(root);
         ASSERT_EQ(batches.size(), 1u);
         EXPECT_TRUE(walked_paths(batches).empty());
         expect_totals(batches[0], "0", "1");
         ASSERT_EQ(batches[0]["samples"].items.size(), 1u);
         EXPECT_EQ(batches[0]["samples"].items[0].text, normalised(root) + u": FindFirstFile: 206");
       }},
  };
}

INSTANTIATE_TEST_SUITE_P(OverlongPaths, Sweep, ::testing::ValuesIn(overlong_path_rows()), sweep_row_name);

// ---- calls in the wrong state ----

// Every call the engine refuses for its arguments, made once each.
void make_every_refused_call(vt_engine* engine) {
  const uint8_t byte = 0;
  std::array<uint64_t, 13> out;
  EXPECT_EQ(dll().vt_root(engine, 0, base().c_str(), 0), invalid);
  EXPECT_EQ(dll().vt_root(engine, 1, nullptr, 0), invalid);
  EXPECT_EQ(dll().vt_exclude(engine, nullptr), invalid);
  EXPECT_EQ(dll().vt_stats(engine, out.data(), 12), invalid);
  EXPECT_EQ(dll().vt_stats(engine, nullptr, 13), invalid);
  EXPECT_EQ(dll().vt_replay(engine, 15, 1, 8, pid, t0, nullptr, 5), invalid);
  EXPECT_EQ(dll().vt_replay_many(engine, 15, 1, 8, pid, t0, &byte, 1, UINT32_MAX), invalid);
  EXPECT_EQ(dll().vt_test_emit(engine, base().c_str(), 0, pid, t0), invalid);
  EXPECT_EQ(dll().vt_test_emit(engine, base().c_str(), 1, pid, nan), invalid);
  EXPECT_EQ(dll().vt_test_emit(engine, nullptr, 1, pid, t0), invalid);
}

// What a configured engine holds: a queued record, an exclusion, a watched
// missing path and a probe, each still in effect.
void expect_configuration_kept(vt_engine* engine) {
  const auto drained = records(engine);
  ASSERT_EQ(drained.size(), 1u);
  EXPECT_EQ(drained[0].path, normalised(base() + L"\\queued"));
  ASSERT_EQ(dll().vt_test_emit(engine, (base() + L"\\hidden\\a").c_str(), 1, pid, t0), 0u);
  ASSERT_EQ(dll().vt_test_emit(engine, L"c:\\probe.txt", 1, pid, t0), 0u);
  EXPECT_EQ(stats(engine)[probe_seen], 1u);
  replay(engine, 12, 1, payload::create_event(8, 1, irp, file_object, u16(base() + L"\\waited")));
  replay(engine, 24, 0, payload::operation_end_event(8, irp, status_not_found), t0 + 0.5);
  const Drained record = single_record(engine);
  EXPECT_EQ(record.path, normalised(base() + L"\\waited"));
  EXPECT_EQ(record.kind, "6");
  EXPECT_EQ(stats(engine)[errors], 0u);
}

// An engine set up for expect_configuration_kept.
void configure(vt_engine* engine) {
  ASSERT_EQ(dll().vt_root(engine, 3, base().c_str(), 0), 0u);
  ASSERT_EQ(dll().vt_exclude(engine, (base() + L"\\hidden").c_str()), 0u);
  dll().vt_missing(engine, (base() + L"\\waited").c_str());
  dll().vt_probe(engine, L"c:\\probe.txt");
  ASSERT_EQ(dll().vt_test_recovery(engine, 1), 0u);
  ASSERT_EQ(dll().vt_test_emit(engine, (base() + L"\\queued").c_str(), 2, pid, t0), 0u);
}

std::vector<Row> state_rows() {
  return {
      {"stop_before_any_start_is_harmless",
       [] {
         RootedEngine engine;
         dll().vt_stop(engine);
         EXPECT_EQ(dll().vt_test_emit(engine, (base() + L"\\a").c_str(), 1, pid, t0), 0u);
         EXPECT_EQ(records(engine).size(), 1u);
       }},
      {"a_second_stop_is_harmless_and_the_engine_starts_again",
       [] {
         RootedEngine engine;
         ASSERT_EQ(dll().vt_start(engine, 0, 0), 0u);
         dll().vt_stop(engine);
         dll().vt_stop(engine);
         EXPECT_EQ(stats(engine)[healthy], 0u);
         EXPECT_EQ(dll().vt_start(engine, 0, 0), 0u);
         EXPECT_EQ(stats(engine)[healthy], 1u);
       }},
      {"a_second_start_is_183_and_the_first_keeps_running",
       [] {
         RootedEngine engine;
         ASSERT_EQ(dll().vt_start(engine, 0, 0), 0u);
         EXPECT_EQ(dll().vt_start(engine, 0, 0), already_running);
         EXPECT_EQ(dll().vt_start(engine, 1, 1), already_running);
         EXPECT_EQ(stats(engine)[healthy], 1u);
         EXPECT_EQ(stats(engine)[capture_live], 0u);
         write_file(base() + L"\\while-running.txt");
         bool seen = false;
         for (int i = 0; i < 100 && !seen; ++i) {
           for (const Drained& r : records(engine))
             seen = seen || r.path == normalised(base() + L"\\while-running.txt");
           if (!seen) Sleep(20);
         }
         EXPECT_TRUE(seen);
         DeleteFileW((base() + L"\\while-running.txt").c_str());
       }},
      {"root_and_exclude_while_running_are_87_and_change_nothing",
       [] {
         RootedEngine engine;
         ASSERT_EQ(dll().vt_start(engine, 0, 0), 0u);
         EXPECT_EQ(dll().vt_root(engine, 4, L"c:\\elsewhere", 0), invalid);
         EXPECT_EQ(dll().vt_exclude(engine, (base() + L"\\hidden").c_str()), invalid);
         dll().vt_stop(engine);
         ASSERT_EQ(dll().vt_test_emit(engine, L"c:\\elsewhere\\a", 1, pid, t0), 0u);
         ASSERT_EQ(dll().vt_test_emit(engine, (base() + L"\\hidden\\a").c_str(), 1, pid, t0), 0u);
         const Drained record = single_record(engine);
         EXPECT_EQ(record.path, normalised(base() + L"\\hidden\\a"));
         EXPECT_EQ(record.root, "3");
       }},
      {"replay_emit_and_recovery_while_running_are_87_and_count_nothing",
       [] {
         RootedEngine engine;
         ASSERT_EQ(dll().vt_start(engine, 0, 0), 0u);
         const Bytes name = payload::name_event(8, file_key, u16(base() + L"\\a"));
         EXPECT_EQ(replay(engine, 10, 0, name), invalid);
         EXPECT_EQ(dll().vt_replay_many(engine, 10, 0, 8, pid, t0, name.data(), name.size(), 10), invalid);
         EXPECT_EQ(dll().vt_test_emit(engine, (base() + L"\\a").c_str(), 1, pid, t0), invalid);
         EXPECT_EQ(dll().vt_test_recovery(engine, 1), invalid);
         EXPECT_EQ(stats(engine)[events], 0u);
         EXPECT_EQ(stats(engine)[errors], 0u);
         dll().vt_stop(engine);
         EXPECT_EQ(drain_text(engine), "[]");
       }},
      {"missing_probe_and_outputs_are_taken_while_running",
       [] {
         RootedEngine engine;
         ASSERT_EQ(dll().vt_start(engine, 0, 0), 0u);
         dll().vt_missing(engine, (base() + L"\\later").c_str());
         dll().vt_missing_clear(engine);
         dll().vt_missing_clear(engine);
         dll().vt_probe(engine, L"c:\\probe");
         dll().vt_probe(engine, nullptr);
         EXPECT_EQ(drain_text(engine), "[]");
         uint64_t length = 0;
         EXPECT_NE(dll().vt_diagnostics(engine, &length), nullptr);
         EXPECT_EQ(stats(engine)[errors], 0u);
       }},
      {"a_fresh_engine_drains_nothing_and_counts_zeros",
       [] {
         Engine engine;
         EXPECT_EQ(drain_text(engine), "[]");
         EXPECT_EQ(stats(engine), (std::array<uint64_t, 13>{}));
         uint64_t length = 0;
         const char* text = dll().vt_diagnostics(engine, &length);
         EXPECT_TRUE(parsed(text, length));
         dll().vt_missing_clear(engine);
         EXPECT_EQ(dll().vt_test_recovery(engine, 0), 0u);
       }},
      {"records_emitted_before_a_start_survive_the_start_and_stop",
       [] {
         RootedEngine engine;
         ASSERT_EQ(dll().vt_test_emit(engine, (base() + L"\\kept").c_str(), 2, pid, t0), 0u);
         ASSERT_EQ(dll().vt_start(engine, 0, 0), 0u);
         dll().vt_stop(engine);
         const Drained record = single_record(engine);
         EXPECT_EQ(record.path, normalised(base() + L"\\kept"));
         EXPECT_EQ(drain_text(engine), "[]");
       }},
      {"a_failed_start_fails_the_same_way_again_and_never_claims_to_run",
       [] {
         Engine engine;
         ASSERT_EQ(dll().vt_root(engine, 1, (base() + L"\\no-such-dir").c_str(), 0), 0u);
         const uint32_t first = dll().vt_start(engine, 0, 0);
         EXPECT_TRUE(first == ERROR_FILE_NOT_FOUND || first == ERROR_PATH_NOT_FOUND) << first;
         EXPECT_EQ(dll().vt_start(engine, 0, 0), first);
         EXPECT_EQ(stats(engine)[healthy], 0u);
         dll().vt_stop(engine);
       }},
      {"destroying_a_running_engine_stops_it_first",
       [] {
         vt_engine* engine = dll().vt_create();
         ASSERT_NE(engine, nullptr);
         ASSERT_EQ(dll().vt_root(engine, 1, base().c_str(), 0), 0u);
         ASSERT_EQ(dll().vt_start(engine, 0, 0), 0u);
         dll().vt_destroy(engine);
       }},
      {"draining_everything_twice_gives_an_empty_array",
       [] {
         RootedEngine engine;
         for (int i = 0; i < 3000; ++i)
           ASSERT_EQ(dll().vt_test_emit(engine, (base() + L"\\f" + std::to_wstring(i)).c_str(), 1, pid, t0), 0u);
         std::size_t total = 0;
         for (int i = 0; i < 10; ++i) total += records(engine).size();
         EXPECT_EQ(total, 3000u);
         EXPECT_EQ(drain_text(engine), "[]");
         EXPECT_EQ(drain_text(engine), "[]");
       }},
      {"vt_abi_answers_1_whatever_the_engines_do",
       [] {
         EXPECT_EQ(dll().vt_abi(), 1u);
         RootedEngine engine;
         ASSERT_EQ(dll().vt_start(engine, 0, 0), 0u);
         EXPECT_EQ(dll().vt_abi(), 1u);
       }},
      {"vt_create_gives_engines_that_share_nothing",
       [] {
         std::vector<vt_engine*> engines;
         for (int i = 0; i < 16; ++i) {
           engines.push_back(dll().vt_create());
           ASSERT_NE(engines.back(), nullptr);
           ASSERT_EQ(dll().vt_root(engines.back(), i + 1, base().c_str(), 0), 0u);
           ASSERT_EQ(dll().vt_test_emit(engines.back(), (base() + L"\\e" + std::to_wstring(i)).c_str(), 1, pid, t0),
                     0u);
         }
         for (int i = 0; i < 16; ++i) {
           const Drained record = single_record(engines[i]);
           EXPECT_EQ(record.root, std::to_string(i + 1));
           EXPECT_EQ(record.path, normalised(base() + L"\\e" + std::to_wstring(i)));
         }
         for (vt_engine* engine : engines) dll().vt_destroy(engine);
       }},
      {"refused_calls_on_a_stopped_engine_leave_its_records_and_configuration_as_they_were",
       [] {
         Engine engine;
         configure(engine);
         make_every_refused_call(engine);
         expect_configuration_kept(engine);
       }},
      {"refused_calls_on_a_running_engine_leave_its_records_and_configuration_as_they_were",
       [] {
         Engine engine;
         configure(engine);
         // The start sets the tracking of failed opens anew.
         ASSERT_EQ(dll().vt_start(engine, 0, 1), 0u);
         make_every_refused_call(engine);
         EXPECT_EQ(dll().vt_start(engine, 0, 1), already_running);
         EXPECT_EQ(dll().vt_root(engine, 5, L"c:\\elsewhere", 0), invalid);
         EXPECT_EQ(dll().vt_exclude(engine, base().c_str()), invalid);
         EXPECT_EQ(dll().vt_test_recovery(engine, 0), invalid);
         dll().vt_stop(engine);
         expect_configuration_kept(engine);
       }},
      {"a_root_that_names_a_file_fails_the_start_as_a_watcher_that_never_got_ready",
       [] {
         write_file(base() + L"\\plain.txt");
         Engine engine;
         ASSERT_EQ(dll().vt_root(engine, 1, (base() + L"\\plain.txt").c_str(), 0), 0u);
         EXPECT_EQ(dll().vt_start(engine, 0, 0), 110u);
         EXPECT_EQ(stats(engine)[healthy], 0u);
         EXPECT_EQ(dll().vt_test_emit(engine, (base() + L"\\plain.txt").c_str(), 1, pid, t0), 0u);
       }},
      {"a_watched_directory_removed_while_running_stops_and_fails_the_next_start_with_the_systems_code",
       [] {
         const std::wstring dir = base() + L"\\vanishing";
         ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
         Engine engine;
         ASSERT_EQ(dll().vt_root(engine, 1, dir.c_str(), 0), 0u);
         ASSERT_EQ(dll().vt_start(engine, 0, 0), 0u);
         ASSERT_TRUE(RemoveDirectoryW(dir.c_str()));
         dll().vt_stop(engine);
         EXPECT_EQ(stats(engine)[healthy], 0u);
         const uint32_t status = dll().vt_start(engine, 0, 0);
         EXPECT_TRUE(status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) << status;
         EXPECT_EQ(stats(engine)[healthy], 0u);
       }},
      {"the_error_text_is_never_null",
       [] {
         ASSERT_NE(dll().vt_error(), nullptr);
         Engine engine;
         ASSERT_EQ(dll().vt_root(engine, 1, L"", 0), 0u);
         dll().vt_start(engine, 0, 0);
         ASSERT_NE(dll().vt_error(), nullptr);
       }},
  };
}

INSTANTIATE_TEST_SUITE_P(WrongState, Sweep, ::testing::ValuesIn(state_rows()), sweep_row_name);

// ---- the scanner in the wrong state ----

std::vector<Row> scanner_state_rows() {
  return {
      {"scan_next_after_the_walk_ended_repeats_the_totals_without_records",
       [] {
         TempDir tree;
         write_file(tree / L"a.txt", "12");
         vt_scanner* scanner = dll().vt_scan_create(tree.path().c_str());
         ASSERT_NE(scanner, nullptr);
         const auto batches = walk(scanner);
         ASSERT_EQ(batches.size(), 1u);
         for (int i = 0; i < 200; ++i) {
           const auto after = walk(scanner, 1);
           ASSERT_EQ(after.size(), 1u);
           EXPECT_TRUE(after[0]["records"].items.empty());
           expect_totals(after[0], "1", "0");
           EXPECT_EQ(after[0]["bytes"].literal, "2");
         }
         dll().vt_scan_destroy(scanner);
       }},
      {"scan_exclude_after_the_walk_ended_changes_nothing",
       [] {
         TempDir tree;
         write_file(tree / L"a.txt");
         vt_scanner* scanner = dll().vt_scan_create(tree.path().c_str());
         ASSERT_NE(scanner, nullptr);
         walk(scanner);
         dll().vt_scan_exclude(scanner, tree.path().c_str());
         const auto after = walk(scanner, 1);
         dll().vt_scan_destroy(scanner);
         ASSERT_EQ(after.size(), 1u);
         expect_totals(after[0], "1", "0");
       }},
      {"scan_exclude_of_the_root_before_the_walk_hides_everything_below_it",
       [] {
         TempDir tree;
         write_file(tree / L"a.txt");
         const auto batches =
             walk_root(tree.path(), [&](vt_scanner* scanner) { dll().vt_scan_exclude(scanner, tree.path().c_str()); });
         ASSERT_EQ(batches.size(), 1u);
         expect_totals(batches[0], "0", "0");
       }},
      {"scan_destroy_in_the_middle_of_a_listing_ends_the_walk",
       [] {
         TempDir tree;
         for (int i = 0; i < 600; ++i) write_file(tree / (L"f" + std::to_wstring(i)));
         vt_scanner* scanner = dll().vt_scan_create(tree.path().c_str());
         ASSERT_NE(scanner, nullptr);
         const auto first = walk(scanner, 1);
         ASSERT_EQ(first.size(), 1u);
         expect_totals(first[0], "512", "0", false);
         dll().vt_scan_destroy(scanner);
         // The listing was closed: the tree can be removed at once.
         remove_tree(tree.path());
         EXPECT_EQ(GetFileAttributesW(tree.path().c_str()), INVALID_FILE_ATTRIBUTES);
       }},
      {"two_scanners_of_one_root_walk_independently_when_interleaved",
       [] {
         TempDir tree;
         for (int i = 0; i < 1100; ++i) write_file(tree / (L"f" + std::to_wstring(i)));
         vt_scanner* a = dll().vt_scan_create(tree.path().c_str());
         vt_scanner* b = dll().vt_scan_create(tree.path().c_str());
         ASSERT_NE(a, nullptr);
         ASSERT_NE(b, nullptr);
         std::vector<JsonValue> batches_a, batches_b;
         for (int i = 0; i < 10; ++i) {
           for (auto& [scanner, batches] : {std::pair{a, &batches_a}, std::pair{b, &batches_b}}) {
             if (!batches->empty() && batches->back()["done"].boolean) continue;
             const auto next = walk(scanner, 1);
             if (!next.empty()) batches->push_back(next[0]);
           }
         }
         dll().vt_scan_destroy(a);
         dll().vt_scan_destroy(b);
         EXPECT_EQ(walked_paths(batches_a).size(), 1100u);
         EXPECT_EQ(walked_paths(batches_a), walked_paths(batches_b));
       }},
      {"scan_exclude_of_many_long_paths_is_taken",
       [] {
         TempDir tree;
         write_file(tree / L"a.txt");
         const std::wstring long_path = path_of_units(32767);
         const auto batches = walk_root(tree.path(), [&](vt_scanner* scanner) {
           for (int i = 0; i < 200; ++i) dll().vt_scan_exclude(scanner, long_path.c_str());
         });
         EXPECT_EQ(walked_paths(batches), std::vector<std::u16string>{normalised(tree / L"a.txt")});
       }},
  };
}

INSTANTIATE_TEST_SUITE_P(ScannerState, Sweep, ::testing::ValuesIn(scanner_state_rows()), sweep_row_name);

}  // namespace
}  // namespace mirrow::testing
