// Telvyn.dll as a host uses it: loaded with LoadLibraryW, the exports bound
// by name, texts read and copied by the caller.
#include <windows.h>

#include <gtest/gtest.h>

#include <barrier>
#include <cstring>
#include <exception>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "telvyn.h"
#include "support/library_api_win.h"
#include "support/strict_json.h"

extern "C" int telvyn_header_pointer_bytes_in_c(void);

namespace {

using mirrow::testing::JsonValue;
using mirrow::testing::keys_of;
using mirrow::testing::parse_strict_json;
using mirrow::testing::TelvynApi;
using Report = decltype(&tl_load);

bool is_one_ascii_line(const std::string& text) {
  for (const char c : text)
    if (c < 0x20 || c > 0x7E) {
      return false;
    }
  return true;
}

// A fresh copy of the library per test, so the load sampler starts over.
class TelvynDll : public ::testing::Test {
 protected:
  void SetUp() override {
    try {
      library_.emplace();
    } catch (const std::exception& e) {
      FAIL() << e.what();
    }
    snapshot_ = library_->tl_snapshot;
    memory_ = library_->tl_memory;
    load_ = library_->tl_load;
    crashes_ = library_->tl_crashes;
  }
  void TearDown() override {
    if (library_ && library_->module) {
      EXPECT_TRUE(library_->unload());
    }
  }

  // Calls an export as a host does and checks the text is one line of ASCII
  // whose length matches the reported one.
  static std::string call(Report report) {
    std::uint64_t length = 12345;
    const char* text = report(&length);
    EXPECT_NE(text, nullptr);
    if (text == nullptr) return {};
    EXPECT_EQ(length, std::strlen(text));
    const std::string copy(text, static_cast<std::size_t>(length));
    EXPECT_TRUE(is_one_ascii_line(copy)) << copy;
    return copy;
  }

  static JsonValue parsed(const std::string& text) {
    const auto value = parse_strict_json(text);
    EXPECT_TRUE(value) << text;
    return value.value_or(JsonValue{});
  }

  static const JsonValue* process_with_pid(const JsonValue& report, DWORD pid) {
    for (const auto& process : report["processes"].items)
      if (process["pid"].literal == std::to_string(pid)) return &process;
    return nullptr;
  }

  std::optional<TelvynApi> library_;
  Report snapshot_ = nullptr, memory_ = nullptr, load_ = nullptr, crashes_ = nullptr;
};

TEST_F(TelvynDll, the_header_compiles_as_c_and_names_four_exports) {
  EXPECT_EQ(telvyn_header_pointer_bytes_in_c(), static_cast<int>(4 * sizeof(void*)));
}

TEST_F(TelvynDll, the_memory_report_has_real_system_figures_and_every_process_in_fixed_member_order) {
  const JsonValue report = parsed(call(memory_));
  EXPECT_EQ(keys_of(report), (std::vector<std::string>{"system_available", "physical_total", "physical_available",
                                                     "nonpaged_pool", "paged_pool", "system_cache", "commit_total",
                                                     "commit_limit", "processes"}));
  EXPECT_EQ(report["system_available"].literal, "1");
  EXPECT_NE(report["physical_total"].literal, "0");
  EXPECT_NE(report["commit_limit"].literal, "0");
  ASSERT_FALSE(report["processes"].items.empty());
  for (const auto& process : report["processes"].items) {
    EXPECT_EQ(keys_of(process), (std::vector<std::string>{"pid", "parent", "created", "name", "path", "ws",
                                                        "private_bytes", "private_ws", "shared_commit"}));
    EXPECT_EQ(process["created"].kind, JsonValue::Kind::string);
    const bool has_figures = process["ws"].kind == JsonValue::Kind::number;
    EXPECT_EQ(process["private_bytes"].kind, has_figures ? JsonValue::Kind::number : JsonValue::Kind::null);
    if (!has_figures) {
      EXPECT_EQ(process["shared_commit"].kind, JsonValue::Kind::null);
    }
    if (process["private_ws"].kind == JsonValue::Kind::number) {
      EXPECT_LE(std::stoull(process["private_ws"].literal), std::stoull(process["ws"].literal));
    }
  }
  const JsonValue* own = process_with_pid(report, GetCurrentProcessId());
  ASSERT_NE(own, nullptr);
  EXPECT_EQ((*own)["ws"].kind, JsonValue::Kind::number);
  EXPECT_NE((*own)["ws"].literal, "0");
  EXPECT_NE((*own)["created"].text, u"0");
}

TEST_F(TelvynDll, the_first_load_report_has_no_load_and_the_next_one_the_load_since_then) {
  const JsonValue first = parsed(call(load_));
  EXPECT_EQ(keys_of(first), (std::vector<std::string>{"cpu", "names"}));
  EXPECT_EQ(first["cpu"].kind, JsonValue::Kind::null);
  volatile std::uint64_t spin = 0;
  for (const DWORD until = GetTickCount() + 300; GetTickCount() < until;) spin = spin + 1;
  const JsonValue second = parsed(call(load_));
  ASSERT_EQ(second["cpu"].kind, JsonValue::Kind::number);
  EXPECT_TRUE(std::regex_match(second["cpu"].literal, std::regex(R"(0|100|[1-9]?[0-9](\.[0-9]{1,5})?|0\.[0-9]+)")))
      << second["cpu"].literal;
  const double load = std::stod(second["cpu"].literal);
  EXPECT_GE(load, 0.0);
  EXPECT_LE(load, 100.0);
}

TEST_F(TelvynDll, the_load_report_names_every_process_including_a_cyrillic_one_as_escapes) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring copy = std::wstring(temp) + L"\u0422\u0435\u0441\u0442-telvyn.exe";
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  ASSERT_TRUE(CopyFileW(self, copy.c_str(), FALSE));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  std::wstring command = L"\"" + copy + L"\" --gtest_list_tests";
  ASSERT_TRUE(CreateProcessW(copy.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                             &startup, &started));
  const std::string text = call(load_);
  TerminateProcess(started.hProcess, 0);
  WaitForSingleObject(started.hProcess, 5000);
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  DeleteFileW(copy.c_str());
  EXPECT_NE(text.find("\"\\u0422\\u0435\\u0441\\u0442-telvyn.exe\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"telvyn_dll_tests.exe\""), std::string::npos);
}

TEST_F(TelvynDll, the_snapshot_lists_every_process_with_its_verdict_in_fixed_member_order) {
  const JsonValue report = parsed(call(snapshot_));
  EXPECT_EQ(keys_of(report), (std::vector<std::string>{"wmi_status", "processes"}));
  EXPECT_EQ(report["wmi_status"].kind, JsonValue::Kind::number);
  EXPECT_TRUE(report["wmi_status"].literal == "0" || report["wmi_status"].literal == "262148")
      << report["wmi_status"].literal;
  ASSERT_FALSE(report["processes"].items.empty());
  for (const auto& process : report["processes"].items) {
    EXPECT_EQ(keys_of(process), (std::vector<std::string>{"pid", "parent", "session", "created", "name", "path", "cli",
                                                        "ui", "same_user", "protected"}));
    EXPECT_EQ(process["created"].kind, JsonValue::Kind::string);
    EXPECT_TRUE(process["ui"].literal == "0" || process["ui"].literal == "1");
    EXPECT_TRUE(process["same_user"].literal == "0" || process["same_user"].literal == "1");
    EXPECT_EQ(process["protected"].kind, JsonValue::Kind::string);
  }
  const JsonValue* own = process_with_pid(report, GetCurrentProcessId());
  ASSERT_NE(own, nullptr);
  EXPECT_EQ((*own)["name"].text, u"telvyn_dll_tests.exe");
  EXPECT_NE((*own)["protected"].text, u"") << "the host that loaded the library is never cleared for freezing";
}

TEST_F(TelvynDll, unreadable_event_logs_give_one_error_object_each_with_the_thread_s_last_error) {
  SetLastError(ERROR_ACCESS_DENIED);
  const JsonValue report = parsed(call(crashes_));
  ASSERT_EQ(report.kind, JsonValue::Kind::array);
  for (const auto& event : report.items) {
    if (event["provider"].text != u"unavailable") continue;
    EXPECT_EQ(keys_of(event), (std::vector<std::string>{"id", "ticks", "channel", "provider", "error"}));
    EXPECT_EQ(event["id"].literal, "0");
    EXPECT_EQ(event["ticks"].text, u"0");
  }
  // Wine's EvtQuery fails without setting an error, so the code is the one
  // this thread had before the call.
  ASSERT_EQ(report.items.size(), 2u);
  EXPECT_EQ(report.items[0]["channel"].text, u"System");
  EXPECT_EQ(report.items[1]["channel"].text, u"Application");
  EXPECT_EQ(report.items[0]["error"].literal, "5");
  EXPECT_EQ(report.items[1]["error"].literal, "5");
}

TEST_F(TelvynDll, two_threads_hold_their_results_at_the_same_time) {
  std::barrier both_called(2);
  auto hold = [&](Report report, std::string& verdict) {
    std::uint64_t length = 0;
    const char* text = report(&length);
    const std::string copy(text, static_cast<std::size_t>(length));
    both_called.arrive_and_wait();
    // The other thread has called its own export meanwhile.
    verdict = std::string(text) == copy && parse_strict_json(copy) ? "kept" : "overwritten";
  };
  std::string load_verdict, memory_verdict;
  std::thread load_thread(hold, load_, std::ref(load_verdict));
  std::thread memory_thread(hold, memory_, std::ref(memory_verdict));
  load_thread.join();
  memory_thread.join();
  EXPECT_EQ(load_verdict, "kept");
  EXPECT_EQ(memory_verdict, "kept");
}

TEST_F(TelvynDll, a_thread_s_text_stays_valid_until_its_own_next_call) {
  const char* first = load_(nullptr);
  ASSERT_NE(first, nullptr);
  const std::string copy = first;
  std::thread([&] { call(memory_); }).join();
  EXPECT_EQ(std::string(first), copy);
}

TEST_F(TelvynDll, a_thread_that_holds_a_text_may_outlive_the_library) {
  HANDLE unloaded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE called = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread holder([&] {
    call(load_);
    SetEvent(called);
    WaitForSingleObject(unloaded, INFINITE);
  });
  WaitForSingleObject(called, INFINITE);
  EXPECT_TRUE(library_->unload());
  SetEvent(unloaded);
  holder.join();  // the thread ends after the library is gone
  CloseHandle(called);
  CloseHandle(unloaded);
}

TEST_F(TelvynDll, a_null_length_pointer_still_returns_the_text) {
  const char* text = load_(nullptr);
  ASSERT_NE(text, nullptr);
  EXPECT_TRUE(parse_strict_json(text));
}

}  // namespace
