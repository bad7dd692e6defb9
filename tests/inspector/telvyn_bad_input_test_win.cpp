// Every export of Telvyn.dll, bound by name as a host binds them, called the
// ways a careless host could: without a length pointer, with a length
// pointer holding garbage or sitting unaligned, with any last error set,
// over and over, from many threads at once, across an unload and reload.
// Each row checks the documented result; after every row the library still
// answers a snapshot with this process in it and a valid text from each
// other export.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "telvyn.h"
#include "support/library_api_win.h"
#include "support/strict_json.h"
#include "support/sweep_rows.h"

namespace {

using mirrow::testing::JsonValue;
using mirrow::testing::keys_of;
using mirrow::testing::parse_strict_json;
using mirrow::testing::sweep_row_name;
using Report = decltype(&tl_load);

// The library loaded with its four exports bound by name, reachable by index.
class Telvyn {
 public:
  bool loaded() const { return library_.module.valid(); }
  Report operator[](std::size_t i) const { return exports_[i]; }

  static constexpr std::array<const char*, 4> names = {"tl_snapshot", "tl_memory", "tl_load", "tl_crashes"};

 private:
  mirrow::testing::TelvynApi library_;
  std::array<Report, 4> exports_{library_.tl_snapshot, library_.tl_memory, library_.tl_load, library_.tl_crashes};
};

constexpr std::size_t snapshot = 0, memory = 1, load = 2, crashes = 3;

// The library for the whole program; rows that unload it use their own.
Telvyn& telvyn() {
  static Telvyn library;
  return library;
}

bool is_one_ascii_line(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

// A returned text: NUL-terminated, one line of ASCII, one JSON value.
std::optional<JsonValue> report_text(const char* text) {
  EXPECT_NE(text, nullptr);
  if (text == nullptr) return std::nullopt;
  EXPECT_TRUE(is_one_ascii_line(text)) << text;
  auto value = parse_strict_json(text);
  EXPECT_TRUE(value) << text;
  return value;
}

// One call as a host makes it; the length must match the text.
std::optional<JsonValue> call(Report report) {
  std::uint64_t length = 12345;
  const char* text = report(&length);
  if (text != nullptr) {
    EXPECT_EQ(length, std::strlen(text));
  }
  return report_text(text);
}

// The members each report starts with.
const std::vector<std::string>& first_keys(std::size_t which) {
  static const std::vector<std::vector<std::string>> keys = {
      {"wmi_status", "processes"}, {"system_available", "physical_total"}, {"cpu", "names"}, {}};
  return keys[which];
}

void expect_report_shape(std::size_t which, const JsonValue& value) {
  if (which == crashes) {
    EXPECT_EQ(value.kind, JsonValue::Kind::array);
    return;
  }
  const std::vector<std::string> keys = keys_of(value);
  const std::vector<std::string>& expected = first_keys(which);
  ASSERT_GE(keys.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(keys.begin(), keys.begin() + expected.size()), expected);
}

// ---- the check after every row ----

void library_still_answers() {
  ASSERT_TRUE(telvyn().loaded());
  const auto report = call(telvyn()[snapshot]);
  ASSERT_TRUE(report);
  bool found = false;
  for (const JsonValue& process : (*report)["processes"].items)
    found = found || process["pid"].literal == std::to_string(GetCurrentProcessId());
  EXPECT_TRUE(found) << "this process is missing from the snapshot";
  for (const std::size_t which : {memory, load, crashes}) {
    const auto value = call(telvyn()[which]);
    if (value) expect_report_shape(which, *value);
  }
}

// ---- the table ----

using Row = mirrow::testing::SweepRow;

class TelvynSweep : public ::testing::TestWithParam<Row> {};

TEST_P(TelvynSweep, gives_the_documented_result_and_leaves_the_library_working) {
  ASSERT_TRUE(telvyn().loaded());
  GetParam().run();
  library_still_answers();
}

// Rows made once for each export.
std::vector<Row> per_export_rows() {
  std::vector<Row> rows;
  for (std::size_t which = 0; which < Telvyn::names.size(); ++which) {
    const std::string name = Telvyn::names[which];
    rows.push_back({name + "_without_a_length_pointer_still_returns_the_whole_text", [which] {
                      const auto value = report_text(telvyn()[which](nullptr));
                      if (value) expect_report_shape(which, *value);
                    }});
    rows.push_back({name + "_overwrites_whatever_the_length_held", [which] {
                      std::uint64_t length = UINT64_MAX;
                      const char* text = telvyn()[which](&length);
                      ASSERT_NE(text, nullptr);
                      EXPECT_EQ(length, std::strlen(text));
                    }});
    rows.push_back({name + "_writes_the_length_through_an_unaligned_pointer_and_nowhere_else", [which] {
                      std::array<unsigned char, 24> bytes;
                      bytes.fill(0xA5);
                      const char* text = telvyn()[which](reinterpret_cast<std::uint64_t*>(bytes.data() + 3));
                      ASSERT_NE(text, nullptr);
                      std::uint64_t length = 0;
                      std::memcpy(&length, bytes.data() + 3, sizeof length);
                      EXPECT_EQ(length, std::strlen(text));
                      for (std::size_t i = 0; i < bytes.size(); ++i) {
                        const bool outside = i < 3 || i >= 3 + sizeof length;
                        EXPECT_TRUE(!outside || bytes[i] == 0xA5) << i;
                      }
                    }});
    rows.push_back({name + "_answers_the_same_whatever_last_error_the_thread_holds", [which] {
                      for (const DWORD error : {DWORD{0}, DWORD{ERROR_INVALID_PARAMETER}, DWORD{0xFFFFFFFF}}) {
                        SetLastError(error);
                        const auto value = call(telvyn()[which]);
                        if (value) expect_report_shape(which, *value);
                      }
                    }});
    rows.push_back({name + "_called_again_and_again_gives_a_whole_text_each_time", [which] {
                      const int times = which == snapshot || which == crashes ? 5 : 50;
                      for (int i = 0; i < times; ++i) {
                        const auto value = call(telvyn()[which]);
                        if (!value) break;
                        expect_report_shape(which, *value);
                      }
                    }});
  }
  return rows;
}

INSTANTIATE_TEST_SUITE_P(EachExport, TelvynSweep, ::testing::ValuesIn(per_export_rows()), sweep_row_name);

// A load report's cpu: null, or a number from 0 to 100.
void expect_load_or_null(const JsonValue& report) {
  const JsonValue& cpu = report["cpu"];
  if (cpu.kind == JsonValue::Kind::null) return;
  ASSERT_EQ(cpu.kind, JsonValue::Kind::number) << cpu.literal;
  EXPECT_GE(std::stod(cpu.literal), 0.0);
  EXPECT_LE(std::stod(cpu.literal), 100.0);
}

std::vector<Row> state_rows() {
  return {
      {"two_loads_without_time_between_give_null_or_a_load_from_0_to_100",
       [] {
         for (int i = 0; i < 20; ++i) {
           const auto report = call(telvyn()[load]);
           ASSERT_TRUE(report);
           expect_load_or_null(*report);
         }
       }},
      {"a_library_loaded_again_after_its_unload_starts_its_load_sampler_over",
       [] {
         // The program keeps its own instance loaded; a copy under another
         // name is a separate instance, unloaded for good by FreeLibrary.
         wchar_t temp[MAX_PATH];
         GetTempPathW(MAX_PATH, temp);
         const std::wstring copy =
             std::wstring(temp) + L"telvyn-reload-" + std::to_wstring(GetCurrentProcessId()) + L".dll";
         ASSERT_TRUE(CopyFileW(mirrow::testing::telvyn_dll_path().c_str(), copy.c_str(), FALSE));
         for (int round = 0; round < 3; ++round) {
           HMODULE module = LoadLibraryW(copy.c_str());
           ASSERT_NE(module, nullptr);
           const auto load_report =
               reinterpret_cast<Report>(reinterpret_cast<void*>(GetProcAddress(module, "tl_load")));
           ASSERT_NE(load_report, nullptr);
           const auto first = call(load_report);
           ASSERT_TRUE(first);
           EXPECT_EQ((*first)["cpu"].kind, JsonValue::Kind::null) << "round " << round;
           const auto second = call(load_report);
           ASSERT_TRUE(second);
           expect_load_or_null(*second);
           EXPECT_TRUE(FreeLibrary(module));
         }
         DeleteFileW(copy.c_str());
       }},
      {"many_threads_calling_at_once_each_get_their_own_whole_texts",
       [] {
         std::vector<std::thread> threads;
         std::vector<std::string> verdicts(24);
         for (std::size_t t = 0; t < verdicts.size(); ++t) {
           threads.emplace_back([t, &verdicts] {
             const std::size_t first = t % 2 == 0 ? memory : load;
             const std::size_t second = t % 6 == 0 ? snapshot : t % 6 == 1 ? crashes : load;
             std::uint64_t length = 0;
             const char* text = telvyn()[first](&length);
             const std::string copy = text != nullptr ? std::string(text, length) : "";
             telvyn()[second](nullptr);
             // The second call replaced this thread's text; other threads never did.
             const bool whole = text != nullptr && parse_strict_json(copy).has_value();
             const char* again = telvyn()[first](&length);
             verdicts[t] = whole && again != nullptr && parse_strict_json(std::string(again, length)) ? "ok" : "broken";
           });
         }
         for (std::thread& thread : threads) thread.join();
         for (std::size_t t = 0; t < verdicts.size(); ++t) EXPECT_EQ(verdicts[t], "ok") << t;
       }},
      {"threads_that_call_once_and_end_leave_nothing_that_breaks_the_next_caller",
       [] {
         for (int round = 0; round < 64; ++round) {
           std::thread([] { telvyn()[load](nullptr); }).join();
         }
         const auto report = call(telvyn()[load]);
         ASSERT_TRUE(report);
         expect_load_or_null(*report);
       }},
      {"a_text_held_by_one_thread_survives_every_export_called_on_another",
       [] {
         std::uint64_t length = 0;
         const char* text = telvyn()[memory](&length);
         ASSERT_NE(text, nullptr);
         const std::string copy(text, length);
         std::thread([] {
           for (std::size_t which = 0; which < Telvyn::names.size(); ++which) telvyn()[which](nullptr);
         }).join();
         EXPECT_EQ(std::string(text, length), copy);
       }},
      {"crashes_with_the_last_error_0_still_gives_one_object_per_log",
       [] {
         SetLastError(0);
         const auto report = call(telvyn()[crashes]);
         ASSERT_TRUE(report);
         for (const JsonValue& event : report->items) {
           EXPECT_TRUE(event["channel"].text == u"System" || event["channel"].text == u"Application");
           EXPECT_EQ(event["id"].kind, JsonValue::Kind::number);
         }
       }},
  };
}

INSTANTIATE_TEST_SUITE_P(WrongUse, TelvynSweep, ::testing::ValuesIn(state_rows()), sweep_row_name);

}  // namespace
