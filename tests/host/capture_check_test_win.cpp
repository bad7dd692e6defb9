// mirrowctl check's capture part against an engine over the scripted
// tracing, with the engine's exports linked in where mirrowctl.exe binds
// Vantrel.dll: Wine has no real-time tracing, and the scripted one delivers
// the events a real session might, among them those the engine refuses.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "engine/api/engine_win.h"
#include "host/capture_check_win.h"
#include "host/json_value.h"
#include "support/event_payloads.h"
#include "tests/engine/capture/scripted_trace_calls_win.h"

namespace mirrow::host {
namespace {

using ::testing::HasSubstr;
using mirrow::testing::ScriptedEvent;
using mirrow::testing::TraceScript;
using mirrow::testing::trace_script;

// The scripted tracing stands in for a Windows machine with the rights to trace.
const Machine tracing_allowed{false, true};

vt_engine* VANTREL_CALL create_over_scripted_tracing() {
  vt_engine* handle = ::vt_create();
  if (handle != nullptr) reinterpret_cast<Engine*>(handle)->capture.calls = &TraceScript::calls();
  return handle;
}

constexpr std::uint16_t kRead = 15, kWrite = 16;

// A read or write laid out for `pointer_size`, delivered with the 64-bit header.
std::vector<std::uint8_t> io_payload(std::uint32_t pointer_size, std::uint8_t version) {
  return mirrow::test::io_event(pointer_size, version, 0xF1, 0xE1);
}

ScriptedEvent file_event(std::uint16_t id, std::uint8_t version, std::vector<std::uint8_t> data) {
  return {.provider = mirrow::testing::kernel_file_guid, .id = id, .version = version, .process_id = 77,
          .data = std::move(data)};
}

class CaptureCheckOverScriptedTracing : public ::testing::Test {
 protected:
  CaptureCheckOverScriptedTracing() {
    trace_script().reset();
    vantrel_.vt_create = &create_over_scripted_tracing;
    vantrel_.vt_destroy = &::vt_destroy;
    vantrel_.vt_root = &::vt_root;
    vantrel_.vt_start = &::vt_start;
    vantrel_.vt_stop = &::vt_stop;
    vantrel_.vt_stats = &::vt_stats;
    vantrel_.vt_diagnostics = &::vt_diagnostics;
    vantrel_.vt_drain = &::vt_drain;
  }
  ~CaptureCheckOverScriptedTracing() override {
    EXPECT_TRUE(trace_script().every_started_session_stopped());
    trace_script().reset();
  }

  VantrelLibrary vantrel_;
};

TEST_F(CaptureCheckOverScriptedTracing, the_capture_line_names_the_unsupported_and_malformed_events_the_engine_counted) {
  auto& events = trace_script().capture.events;
  // Reads of a version the engine does not take, and a read too short for its pointers.
  events.push_back(file_event(kRead, 2, io_payload(8, 2)));
  events.push_back(file_event(kWrite, 2, io_payload(8, 2)));
  events.push_back(file_event(kWrite, 1, io_payload(4, 1)));

  const CaptureCheck check = check_capture(vantrel_, tracing_allowed);
  ASSERT_EQ(check.lines.size(), 3u);
  EXPECT_EQ(check.lines[0].area, "capture and attribution");
  // The scripted tracing sees nothing of the child, so nothing attributes its file.
  EXPECT_EQ(check.lines[0].result, CheckResult::failed);
  EXPECT_EQ(check.lines[0].reason, "the file a child process made was not attributed to it; "
                                   "the engine counted 2 unsupported and 1 malformed events");
  const auto diagnostics = parse_json(check.diagnostics);
  ASSERT_TRUE(diagnostics && diagnostics->is_object()) << check.diagnostics;
  EXPECT_EQ((*diagnostics)["unsupported"].as_u64(), 2u);
  EXPECT_EQ((*diagnostics)["malformed"].as_u64(), 1u);
}

TEST_F(CaptureCheckOverScriptedTracing, a_capture_of_well_formed_events_keeps_its_line_free_of_counts) {
  trace_script().capture.events.push_back(file_event(kRead, 1, io_payload(8, 1)));

  const CaptureCheck check = check_capture(vantrel_, tracing_allowed);
  ASSERT_EQ(check.lines.size(), 3u);
  EXPECT_EQ(check.lines[0].reason, "the file a child process made was not attributed to it");
  EXPECT_TRUE(parse_json(check.diagnostics).has_value()) << check.diagnostics;
}

TEST_F(CaptureCheckOverScriptedTracing, a_refused_start_leaves_no_diagnostics_and_says_so_in_the_capture_line) {
  trace_script().capture.start_status = ERROR_ACCESS_DENIED;

  const CaptureCheck check = check_capture(vantrel_, tracing_allowed);
  ASSERT_EQ(check.lines.size(), 3u);
  EXPECT_EQ(check.lines[0].result, CheckResult::failed);
  EXPECT_THAT(check.lines[0].reason, HasSubstr("(error 5)"));
  EXPECT_TRUE(check.diagnostics.empty());
}

}  // namespace
}  // namespace mirrow::host
