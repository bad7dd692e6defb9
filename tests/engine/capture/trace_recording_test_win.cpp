// The recording of mirrowctl record against the scripted tracing: one
// session with the names session's kernel flags written to the file, the
// kernel file provider enabled exactly as for capture, its state asked for,
// and a stop on every path.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/capture/trace_recording_win.h"
#include "tests/engine/capture/scripted_trace_calls_win.h"

namespace mirrow {
namespace {

using testing::TraceScript;
using testing::trace_script;
using Log = std::vector<std::string>;

class TraceRecordingTest : public ::testing::Test {
 protected:
  void SetUp() override { trace_script().reset(); }
  void TearDown() override { EXPECT_TRUE(trace_script().every_started_session_stopped()); }
};

std::u16string text_at(const std::vector<std::uint8_t>& block, std::size_t offset) {
  std::u16string text;
  for (std::size_t at = offset; at + 2 <= block.size(); at += 2) {
    char16_t unit;
    std::memcpy(&unit, &block[at], 2);
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}

TEST_F(TraceRecordingTest, writes_what_capture_asks_for_into_the_file_and_stops_by_its_handle) {
  TraceRecording recording;
  std::uint32_t state_status = 99;
  ASSERT_EQ(start_recording(TraceScript::calls(), u"C:\\traces\\now.etl", true, recording, state_status), 0u);
  EXPECT_EQ(state_status, 0u);
  EXPECT_EQ(trace_script().log(), (Log{"guid", "start capture", "enable", "capture state"}));
  const testing::StartCall start = trace_script().starts().at(0);
  EXPECT_TRUE(start.name.starts_with(capture_session_prefix));
  EXPECT_TRUE(start.owner_mark_held);
  const EVENT_TRACE_PROPERTIES& props = start.properties();
  EXPECT_EQ(props.LogFileMode, 0x02000001u);
  EXPECT_EQ(props.EnableFlags, names_session_properties().enable_flags);
  EXPECT_EQ(props.Wnode.ClientContext, 1u);
  EXPECT_EQ(text_at(start.block, props.LogFileNameOffset), u"C:\\traces\\now.etl");

  const auto enables = trace_script().enables();
  ASSERT_EQ(enables.size(), 2u);
  EXPECT_EQ(enables[0].control_code, static_cast<ULONG>(EVENT_CONTROL_CODE_ENABLE_PROVIDER));
  EXPECT_EQ(enables[0].level, provider_level_information);
  EXPECT_EQ(enables[0].match_any, capture_match_any_keywords);
  EXPECT_EQ(enables[0].filter, event_id_filter_body(true));
  EXPECT_EQ(enables[1].control_code, static_cast<ULONG>(EVENT_CONTROL_CODE_CAPTURE_STATE));

  SessionLosses losses;
  EXPECT_EQ(stop_recording(recording, losses), 0u);
  EXPECT_EQ(trace_script().log().back(), "stop capture");
  EXPECT_EQ(stop_recording(recording, losses), 0u);  // a second stop does nothing
}

TEST_F(TraceRecordingTest, a_refused_start_or_enable_leaves_no_session_behind) {
  trace_script().capture.start_status = ERROR_ACCESS_DENIED;
  TraceRecording refused;
  std::uint32_t state_status = 0;
  EXPECT_EQ(start_recording(TraceScript::calls(), u"C:\\t.etl", false, refused, state_status),
            static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));

  trace_script().reset();
  trace_script().enable_status = ERROR_INVALID_PARAMETER;
  TraceRecording unenabled;
  EXPECT_EQ(start_recording(TraceScript::calls(), u"C:\\t.etl", false, unenabled, state_status),
            static_cast<std::uint32_t>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(trace_script().log(), (Log{"guid", "start capture", "enable", "stop capture"}));

  TraceRecording too_long;
  EXPECT_EQ(start_recording(TraceScript::calls(), std::u16string(1024, u'a'), false, too_long, state_status), 206u);
}

}  // namespace
}  // namespace mirrow
