#include "inspector/command_lines_win.h"

#include <objbase.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <thread>

#include "inspector/same_process_win.h"

namespace mirrow::inspector {
namespace {

// A VARIANT owned for the length of a test.
struct TestVariant {
  TestVariant() { VariantInit(&value); }
  ~TestVariant() { VariantClear(&value); }
  static TestVariant i4(LONG v) {
    TestVariant t;
    t.value.vt = VT_I4;
    t.value.lVal = v;
    return t;
  }
  static TestVariant ui4(ULONG v) {
    TestVariant t;
    t.value.vt = VT_UI4;
    t.value.ulVal = v;
    return t;
  }
  static TestVariant string(const wchar_t* text, UINT length) {
    TestVariant t;
    t.value.vt = VT_BSTR;
    t.value.bstrVal = SysAllocStringLen(text, length);
    return t;
  }
  static TestVariant null() {
    TestVariant t;
    t.value.vt = VT_NULL;
    return t;
  }
  TestVariant(TestVariant&& other) noexcept : value(other.value) { other.value.vt = VT_EMPTY; }
  VARIANT value;
};

std::uint64_t own_creation_time() {
  FILETIME created{}, exited{}, kernel{}, user{};
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  return (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

// The creation time in WMI's text form, as UTC with offset +000.
std::wstring cim_text(std::uint64_t ticks) {
  FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME parts{};
  FileTimeToSystemTime(&time, &parts);
  wchar_t text[32];
  std::swprintf(text, 32, L"%04u%02u%02u%02u%02u%02u.%06u+000", parts.wYear, parts.wMonth, parts.wDay, parts.wHour,
                parts.wMinute, parts.wSecond, static_cast<unsigned>(ticks % 10000000 / 10));
  return text;
}

TEST(WmiRowFromVariants, the_id_is_read_from_signed_and_unsigned_32_bit_integers_only) {
  const TestVariant none = TestVariant::null();
  EXPECT_EQ(wmi_row_from_variants(TestVariant::i4(1234).value, none.value, none.value).process_id, 1234u);
  EXPECT_EQ(wmi_row_from_variants(TestVariant::i4(-2).value, none.value, none.value).process_id, 0xFFFFFFFEu);
  EXPECT_EQ(wmi_row_from_variants(TestVariant::ui4(4000000000u).value, none.value, none.value).process_id, 4000000000u);
  EXPECT_EQ(wmi_row_from_variants(TestVariant::string(L"12", 2).value, none.value, none.value).process_id, 0xFFFFFFFFu);
  EXPECT_EQ(wmi_row_from_variants(none.value, none.value, none.value).process_id, 0xFFFFFFFFu);
}

TEST(WmiRowFromVariants, texts_are_taken_whole_from_strings_and_absent_otherwise) {
  const TestVariant id = TestVariant::i4(7);
  const TestVariant cli = TestVariant::string(L"a.exe \"x\"\0tail", 14);
  const TestVariant date = TestVariant::string(L"20240101120000.500000+180", 25);
  const WmiRow row = wmi_row_from_variants(id.value, cli.value, date.value);
  EXPECT_EQ(row.command_line, std::u16string(u"a.exe \"x\"\0tail", 14));
  EXPECT_EQ(row.creation_date, u"20240101120000.500000+180");
  const WmiRow nulls = wmi_row_from_variants(id.value, TestVariant::null().value, TestVariant::i4(1).value);
  EXPECT_EQ(nulls.command_line, std::nullopt);
  EXPECT_EQ(nulls.creation_date, std::nullopt);
}

TEST(StillSameProcess, holds_only_for_a_live_process_with_exactly_its_creation_time) {
  const std::uint32_t own = GetCurrentProcessId();
  EXPECT_TRUE(still_same_process(own, own_creation_time()));
  EXPECT_FALSE(still_same_process(own, own_creation_time() + 1));
  EXPECT_FALSE(still_same_process(own, 0));
  EXPECT_FALSE(still_same_process(0xFFFFFFF0u, own_creation_time()));
}

TEST(JoinWithTheRealProcessCheck, a_row_for_this_process_fills_its_command_line) {
  const std::uint32_t own = GetCurrentProcessId();
  ProcessTable table;
  table[own].pid = own;
  table[own].creation_time = own_creation_time();
  const std::wstring date = cim_text(own_creation_time());
  const TestVariant id = TestVariant::ui4(own);
  const TestVariant cli = TestVariant::string(GetCommandLineW(), static_cast<UINT>(std::wcslen(GetCommandLineW())));
  const TestVariant created = TestVariant::string(date.c_str(), static_cast<UINT>(date.size()));
  EXPECT_TRUE(join_wmi_row(table, wmi_row_from_variants(id.value, cli.value, created.value), &still_same_process));
  EXPECT_EQ(table[own].command_line, utf16(GetCommandLineW()));
}

TEST(FillCommandLines, a_thread_already_in_a_single_threaded_apartment_gets_the_failure_and_no_command_lines) {
  ProcessTable table;
  table[1].pid = 1;
  std::int32_t status = 0;
  std::thread sta([&] {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    status = fill_command_lines(table);
    CoUninitialize();
  });
  sta.join();
  EXPECT_EQ(status, static_cast<std::int32_t>(RPC_E_CHANGED_MODE));
  EXPECT_EQ(table[1].command_line, u"");
}

TEST(FillCommandLines, the_system_s_process_query_runs_to_its_end_within_the_budget) {
  ProcessTable table;
  const std::int32_t status = fill_command_lines(table);
  EXPECT_TRUE(status == 0 || status == wbem_s_timedout) << status;
}

}  // namespace
}  // namespace mirrow::inspector
