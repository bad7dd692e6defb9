#include "inspector/crashes_win.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "support/strict_json.h"

namespace mirrow::inspector {
namespace {

using mirrow::testing::keys_of;
using mirrow::testing::parse_strict_json;

// A scripted event log behind the EventLogCalls seam. Handles are heap
// objects so that a handle that is never closed shows up in the count.
enum class ValuesRender { ok, zero_size, fails, provider_only };

struct FakeEvent {
  std::uint16_t id = 0;
  std::uint64_t ticks = 0;
  std::optional<std::u16string> provider;
  std::u16string xml;
  ValuesRender values = ValuesRender::ok;
  bool xml_fails = false;
};

struct FakeChannel {
  DWORD error = 0;  // the query fails with this code when not 0
  std::vector<FakeEvent> events;
};

struct FakeLog {
  std::map<std::u16string, FakeChannel> channels;
  bool context_fails = false;
  int open_handles = 0;
  std::vector<std::u16string> paths;
  std::vector<std::u16string> queries;
  std::vector<DWORD> query_flags;
  std::vector<DWORD> next_timeouts;
  int next_calls = 0;
};

FakeLog* fake = nullptr;

struct FakeHandle {
  enum class Kind { results, context, event } kind;
  FakeChannel* channel = nullptr;
  std::size_t position = 0;
  const FakeEvent* event = nullptr;
};

EVT_HANDLE open_handle(FakeHandle handle) {
  ++fake->open_handles;
  return new FakeHandle(handle);
}

FakeHandle& handle_of(EVT_HANDLE handle) { return *static_cast<FakeHandle*>(handle); }

EVT_HANDLE WINAPI fake_query(EVT_HANDLE session, LPCWSTR path, LPCWSTR query, DWORD flags) {
  fake->paths.emplace_back(utf16(path));
  fake->queries.emplace_back(utf16(query));
  fake->query_flags.push_back(flags);
  const auto channel = fake->channels.find(utf16(path));
  if (session != nullptr || channel == fake->channels.end()) {
    SetLastError(ERROR_EVT_CHANNEL_NOT_FOUND);
    return nullptr;
  }
  if (channel->second.error != 0) {
    SetLastError(channel->second.error);
    return nullptr;
  }
  return open_handle({FakeHandle::Kind::results, &channel->second});
}

BOOL WINAPI fake_next(EVT_HANDLE results, DWORD size, EVT_HANDLE* events, DWORD timeout, DWORD, PDWORD returned) {
  ++fake->next_calls;
  fake->next_timeouts.push_back(timeout);
  FakeHandle& query = handle_of(results);
  *returned = 0;
  if (size != 1 || query.position >= query.channel->events.size()) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  events[0] = open_handle({FakeHandle::Kind::event, nullptr, 0, &query.channel->events[query.position++]});
  *returned = 1;
  return TRUE;
}

EVT_HANDLE WINAPI fake_create_render_context(DWORD count, LPCWSTR* paths, DWORD flags) {
  if (fake->context_fails || count != 0 || paths != nullptr || flags != EvtRenderContextSystem) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return open_handle({FakeHandle::Kind::context});
}

BOOL too_small(DWORD needed, PDWORD used) {
  *used = needed;
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return FALSE;
}

// System values as the real call lays them out: one variant per system
// property, the provider name stored behind the array.
BOOL render_values(const FakeEvent& event, DWORD size, PVOID buffer, PDWORD used, PDWORD count) {
  const DWORD array_bytes = EvtSystemPropertyIdEND * sizeof(EVT_VARIANT);
  const DWORD text_bytes = event.provider ? static_cast<DWORD>((event.provider->size() + 1) * sizeof(char16_t)) : 0;
  if (event.values == ValuesRender::zero_size) return too_small(0, used);
  if (buffer == nullptr || size < array_bytes + text_bytes) return too_small(array_bytes + text_bytes, used);
  if (event.values == ValuesRender::fails) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  auto* values = static_cast<EVT_VARIANT*>(buffer);
  for (int i = 0; i < EvtSystemPropertyIdEND; ++i) values[i].Type = EvtVarTypeNull;
  values[EvtSystemEventID].Type = EvtVarTypeUInt16;
  values[EvtSystemEventID].UInt16Val = event.id;
  values[EvtSystemTimeCreated].Type = EvtVarTypeFileTime;
  values[EvtSystemTimeCreated].FileTimeVal = event.ticks;
  if (event.provider) {
    auto* text = reinterpret_cast<char16_t*>(static_cast<char*>(buffer) + array_bytes);
    std::copy(event.provider->begin(), event.provider->end(), text);
    text[event.provider->size()] = 0;
    values[EvtSystemProviderName].Type = EvtVarTypeString;
    values[EvtSystemProviderName].StringVal = wide(text);
  }
  *used = array_bytes + text_bytes;
  *count = event.values == ValuesRender::provider_only ? 1 : EvtSystemPropertyIdEND;
  return TRUE;
}

BOOL render_xml(const FakeEvent& event, DWORD size, PVOID buffer, PDWORD used) {
  const DWORD needed = static_cast<DWORD>((event.xml.size() + 1) * sizeof(char16_t));
  if (buffer == nullptr || size < needed) return too_small(needed, used);
  if (event.xml_fails) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  std::copy(event.xml.c_str(), event.xml.c_str() + event.xml.size() + 1, static_cast<char16_t*>(buffer));
  *used = needed;
  return TRUE;
}

BOOL WINAPI fake_render(EVT_HANDLE context, EVT_HANDLE fragment, DWORD flags, DWORD size, PVOID buffer, PDWORD used,
                        PDWORD count) {
  const FakeEvent& event = *handle_of(fragment).event;
  if (flags == EvtRenderEventValues && context != nullptr) return render_values(event, size, buffer, used, count);
  if (flags == EvtRenderEventXml && context == nullptr) return render_xml(event, size, buffer, used);
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

BOOL WINAPI fake_close(EVT_HANDLE handle) {
  --fake->open_handles;
  delete static_cast<FakeHandle*>(handle);
  return TRUE;
}

const EventLogCalls fake_calls{&fake_query, &fake_next, &fake_create_render_context, &fake_render, &fake_close};

FakeEvent crash(std::uint16_t id, std::uint64_t ticks = 133485408000000000, std::u16string xml = u"<Event/>") {
  return FakeEvent{id, ticks, u"Application Error", std::move(xml)};
}

class CrashReportFromEventLog : public ::testing::Test {
 protected:
  void SetUp() override { fake = &log; }
  void TearDown() override {
    EXPECT_EQ(log.open_handles, 0) << "every event-log handle is closed";
    fake = nullptr;
  }
  std::string report() {
    std::string out;
    write_crash_report(out, fake_calls);
    return out;
  }
  // The ids of the report's objects, in order.
  std::vector<std::string> ids(const std::string& text) {
    std::vector<std::string> found;
    const auto parsed = parse_strict_json(text);
    if (!parsed) return {"not JSON"};
    for (const auto& item : parsed->items) found.push_back(item["channel"].text == u"System" ? "S" + item["id"].literal
                                                                                                  : "A" + item["id"].literal);
    return found;
  }
  FakeLog log;
};

TEST_F(CrashReportFromEventLog, both_logs_without_matching_events_give_an_empty_array) {
  log.channels[u"System"];
  log.channels[u"Application"];
  EXPECT_EQ(report(), "[]");
}

TEST_F(CrashReportFromEventLog, each_log_is_queried_newest_first_with_its_own_time_window) {
  log.channels[u"System"];
  log.channels[u"Application"];
  report();
  EXPECT_EQ(log.paths, (std::vector<std::u16string>{u"System", u"Application"}));
  EXPECT_EQ(log.queries,
            (std::vector<std::u16string>{
                u"*[System[(EventID=41 or EventID=1001 or EventID=6008) and TimeCreated[timediff(@SystemTime)<=604800000]]]",
                u"*[System[(EventID=1000 or EventID=1001) and TimeCreated[timediff(@SystemTime)<=3600000]]]"}));
  EXPECT_EQ(log.query_flags, (std::vector<DWORD>{0x201, 0x201}));
}

TEST_F(CrashReportFromEventLog, an_unreadable_system_log_becomes_an_error_object_before_the_application_crashes) {
  log.channels[u"System"].error = ERROR_ACCESS_DENIED;
  log.channels[u"Application"].events = {crash(1000, 133485408000000002, u"<Event a=\"1\"/>"), crash(1001, 133485408000000001)};
  EXPECT_EQ(report(),
            "[{\"id\":0,\"ticks\":\"0\",\"channel\":\"System\",\"provider\":\"unavailable\",\"error\":5},"
            "{\"id\":1000,\"ticks\":\"133485408000000002\",\"channel\":\"Application\",\"provider\":\"Application Error\","
            "\"xml\":\"<Event a=\\\"1\\\"/>\"},"
            "{\"id\":1001,\"ticks\":\"133485408000000001\",\"channel\":\"Application\",\"provider\":\"Application Error\","
            "\"xml\":\"<Event/>\"}]");
}

TEST_F(CrashReportFromEventLog, two_unreadable_logs_give_two_error_objects) {
  log.channels[u"System"].error = ERROR_ACCESS_DENIED;
  EXPECT_EQ(report(),
            "[{\"id\":0,\"ticks\":\"0\",\"channel\":\"System\",\"provider\":\"unavailable\",\"error\":5},"
            "{\"id\":0,\"ticks\":\"0\",\"channel\":\"Application\",\"provider\":\"unavailable\",\"error\":15007}]");
}

TEST_F(CrashReportFromEventLog, of_25_matching_events_only_the_newest_20_are_taken_then_the_other_log_follows) {
  for (std::uint16_t id = 1; id <= 25; ++id) log.channels[u"System"].events.push_back(crash(id));
  log.channels[u"Application"].events = {crash(1000)};
  std::vector<std::string> expected;
  for (int id = 1; id <= 20; ++id) expected.push_back("S" + std::to_string(id));
  expected.push_back("A1000");
  EXPECT_EQ(ids(report()), expected);
  EXPECT_EQ(log.next_calls, 20 + 2);  // no 21st request on System; one event and the end on Application
  EXPECT_THAT(log.next_timeouts, ::testing::Each(0u));
}

TEST_F(CrashReportFromEventLog, events_that_cannot_be_rendered_are_left_out_but_count_toward_the_20) {
  for (std::uint16_t id = 1; id <= 25; ++id) log.channels[u"System"].events.push_back(crash(id));
  log.channels[u"System"].events[1].values = ValuesRender::fails;
  log.channels[u"System"].events[2].values = ValuesRender::zero_size;
  log.channels[u"Application"];
  std::vector<std::string> expected;
  for (int id = 1; id <= 20; ++id)
    if (id != 2 && id != 3) expected.push_back("S" + std::to_string(id));
  EXPECT_EQ(ids(report()), expected);
}

TEST_F(CrashReportFromEventLog, xml_above_65536_bytes_or_unrenderable_is_left_out_of_a_written_object) {
  auto& events = log.channels[u"System"].events;
  events = {crash(1, 1, std::u16string(32767, u'x')), crash(2, 2, std::u16string(32768, u'x')), crash(3, 3)};
  events[2].xml_fails = true;
  log.channels[u"Application"];
  const auto parsed = parse_strict_json(report());
  ASSERT_TRUE(parsed);
  ASSERT_EQ(parsed->items.size(), 3u);
  EXPECT_EQ(parsed->items[0]["xml"].text.size(), 32767u);  // 65536 bytes with its NUL
  EXPECT_EQ(keys_of(parsed->items[1]), (std::vector<std::string>{"id", "ticks", "channel", "provider"}));
  EXPECT_EQ(keys_of(parsed->items[2]), (std::vector<std::string>{"id", "ticks", "channel", "provider"}));
}

TEST_F(CrashReportFromEventLog, an_event_without_provider_names_an_empty_one_and_non_ascii_xml_is_escaped) {
  log.channels[u"System"].events = {FakeEvent{6008, 9, std::nullopt, u"<Data>\u0421\u0431\u043e\u0439</Data>"}};
  log.channels[u"Application"];
  EXPECT_EQ(report(),
            "[{\"id\":6008,\"ticks\":\"9\",\"channel\":\"System\",\"provider\":\"\","
            "\"xml\":\"<Data>\\u0421\\u0431\\u043e\\u0439</Data>\"}]");
}

TEST_F(CrashReportFromEventLog, properties_beyond_the_rendered_count_read_as_zero) {
  log.channels[u"System"].events = {crash(41, 5)};
  log.channels[u"System"].events[0].values = ValuesRender::provider_only;
  log.channels[u"Application"];
  EXPECT_EQ(report(),
            "[{\"id\":0,\"ticks\":\"0\",\"channel\":\"System\",\"provider\":\"Application Error\","
            "\"xml\":\"<Event/>\"}]");
}

TEST_F(CrashReportFromEventLog, a_log_whose_render_context_cannot_be_made_contributes_nothing) {
  log.channels[u"System"].events = {crash(41)};
  log.channels[u"Application"].events = {crash(1000)};
  log.context_fails = true;
  EXPECT_EQ(report(), "[]");
  EXPECT_EQ(log.next_calls, 0);
}

}  // namespace
}  // namespace mirrow::inspector
