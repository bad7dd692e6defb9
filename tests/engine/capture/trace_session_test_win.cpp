// The trace sessions against the scripted tracing: order of the steps, the
// exact names, blocks and filter handed to the system, every failing call,
// loss counts, and delivery of records through the consumer callback.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <future>
#include <memory>
#include <stdexcept>

#include "common/trace_session_owner.h"
#include "common/utf16.h"
#include "engine/api/live_figures_win.h"
#include "engine/api/configuration.h"
#include "engine/api/engine_win.h"
#include "tests/engine/capture/scripted_trace_calls_win.h"
#include "support/program_folder_win.h"
#include "support/temp_dir_win.h"

namespace mirrow {
namespace {

using testing::ScriptedEvent;
using testing::TraceScript;
using testing::trace_script;
using Log = std::vector<std::string>;

struct EngineDeleter {
  void operator()(Engine* e) const { destroy_engine(e); }
};
using EnginePtr = std::unique_ptr<Engine, EngineDeleter>;

class TraceSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    trace_script().reset();
    engine.reset(create_engine());
    ASSERT_NE(engine, nullptr);
    engine->capture.calls = &TraceScript::calls();
  }
  void TearDown() override {
    engine.reset();
    EXPECT_TRUE(trace_script().every_started_session_stopped());
    EXPECT_TRUE(trace_script().every_opened_consumer_ended());
  }

  std::uint64_t count(Counter c) const { return engine->counters.get(c); }

  EnginePtr engine;
};

const Log names_session_steps{"guid", "start names", "open names", "stop names", "close names"};

Log joined(Log a, const Log& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

bool same_guid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST_F(TraceSessionTest, runs_the_names_session_to_its_end_before_the_capture_session_starts) {
  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  EXPECT_EQ(trace_script().log(),
            joined(names_session_steps, {"guid", "start capture", "enable", "open capture", "capture state"}));
  ASSERT_TRUE(trace_script().wait_until_delivered(TraceScript::capture_consumer, 5000));
  EXPECT_EQ(trace_script().processed(), (Log{"names", "capture"}));
  EXPECT_TRUE(engine->capture.capture_live.load());
  EXPECT_EQ(engine->capture.session_handle.load(), TraceScript::capture_session);
  EXPECT_EQ(engine->capture.processing_handle.get(), TraceScript::capture_consumer);

  stop_sequence(*engine);
  const Log log = trace_script().log();
  EXPECT_EQ(Log(log.end() - 2, log.end()), (Log{"stop capture", "close capture"}));
  EXPECT_FALSE(engine->capture.capture_live.load());
  EXPECT_EQ(engine->capture.session_handle.load(), 0u);
  EXPECT_EQ(engine->capture.processing_handle.get(), ~0ULL);
}

TEST_F(TraceSessionTest, names_both_sessions_with_their_prefix_and_a_fresh_guid) {
  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  const auto starts = trace_script().starts();
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(starts[0].name, u"VextrumMirrowNames-{00001001-2222-3333-4444-555555555555}");
  EXPECT_EQ(starts[1].name, u"VextrumMirrowNative-{00001002-2222-3333-4444-555555555555}");
  EXPECT_EQ(engine->capture.session_name, starts[1].name);
  for (const auto& open : trace_script().opens()) {
    EXPECT_EQ(open.mode, 0x10000100u);
    EXPECT_EQ(open.callback, &receive_event_record);
    EXPECT_EQ(open.context, &engine->decoding);
  }
  EXPECT_EQ(trace_script().opens()[1].name, starts[1].name);
  for (const auto& control : trace_script().controls()) EXPECT_EQ(control.code, 1u);
}

TEST_F(TraceSessionTest, fills_both_property_blocks_exactly) {
  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  const auto starts = trace_script().starts();
  ASSERT_EQ(starts.size(), 2u);
  struct Expected {
    ULONG minimum_buffers, mode, flags;
  } expected[] = {{16, 0x02000100, 0x10000300}, {32, 0x00000100, 0}};
  for (int i = 0; i < 2; ++i) {
    const EVENT_TRACE_PROPERTIES& p = starts[i].properties();
    EXPECT_EQ(starts[i].block.size(), 2168u);
    EXPECT_EQ(p.Wnode.BufferSize, 2168u);
    EXPECT_EQ(p.Wnode.Flags, 0x00020000u);
    EXPECT_EQ(p.Wnode.ClientContext, 1u);
    EXPECT_EQ(p.BufferSize, 256u);
    EXPECT_EQ(p.MinimumBuffers, expected[i].minimum_buffers);
    EXPECT_EQ(p.MaximumBuffers, 128u);
    EXPECT_EQ(p.FlushTimer, 1u);
    EXPECT_EQ(p.LogFileMode, expected[i].mode);
    EXPECT_EQ(p.EnableFlags, expected[i].flags);
    EXPECT_EQ(p.LoggerNameOffset, 120u);
    EXPECT_EQ(p.LogFileNameOffset, 0u);
    EXPECT_EQ(p.MaximumFileSize, 0u);
    EXPECT_EQ(p.AgeLimit, 0);
  }
  // The header GUID is the one the session name carries.
  EXPECT_EQ(starts[1].properties().Wnode.Guid.Data1, 0x1002u);
  EXPECT_EQ(starts[0].properties().Wnode.Guid.Data1, 0x1001u);
}

TEST_F(TraceSessionTest, enables_the_kernel_file_provider_with_nine_event_ids) {
  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  const auto enables = trace_script().enables();
  ASSERT_EQ(enables.size(), 2u);
  const auto& enable = enables[0];
  EXPECT_EQ(enable.session, TraceScript::capture_session);
  EXPECT_TRUE(same_guid(enable.provider, testing::kernel_file_guid));
  EXPECT_EQ(enable.control_code, 1u);
  EXPECT_EQ(enable.level, 4);
  EXPECT_EQ(enable.match_any, 0x1FF0u);
  EXPECT_EQ(enable.match_all, 0u);
  EXPECT_EQ(enable.timeout, 0u);
  ASSERT_TRUE(enable.has_parameters);
  EXPECT_EQ(enable.parameters_version, 2u);
  EXPECT_EQ(enable.enable_property, 0u);
  EXPECT_EQ(enable.control_flags, 0u);
  EXPECT_TRUE(same_guid(enable.source_id, GUID{}));
  EXPECT_EQ(enable.filter_count, 1u);
  EXPECT_EQ(enable.filter_type, 0x80000200u);
  EXPECT_EQ(enable.filter_size, 22u);
  EXPECT_EQ(enable.filter,
            (std::vector<std::uint8_t>{1, 0, 9, 0, 10, 0, 11, 0, 12, 0, 14, 0, 15, 0, 16, 0, 26, 0, 27, 0, 30, 0}));

  const auto& state = enables[1];
  EXPECT_TRUE(same_guid(state.provider, testing::kernel_file_guid));
  EXPECT_EQ(state.control_code, 2u);
  EXPECT_EQ(state.level, 4);
  EXPECT_EQ(state.match_any, 0x10u);
  EXPECT_EQ(state.match_all, 0u);
  EXPECT_EQ(state.timeout, 1000u);
  EXPECT_FALSE(state.has_parameters);
}

TEST_F(TraceSessionTest, asks_for_operation_end_events_only_when_tracking_missing_opens) {
  ASSERT_EQ(start_engine(*engine, true, true), 0u);
  const auto enable = trace_script().enables().at(0);
  EXPECT_EQ(enable.filter_size, 24u);
  EXPECT_EQ(enable.filter, (std::vector<std::uint8_t>{1, 0, 10, 0, 10, 0, 11, 0, 12, 0, 14, 0, 15, 0, 16, 0, 26, 0,
                                                      27, 0, 30, 0, 24, 0}));
}

TEST_F(TraceSessionTest, records_the_names_session_outcome_and_its_losses) {
  trace_script().names.events_lost = 3;
  trace_script().names.log_buffers_lost = 4;
  trace_script().names.real_time_buffers_lost = 5;
  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  EXPECT_TRUE(engine->startup.system_names_enabled);
  EXPECT_EQ(engine->startup.names_session_status, 0u);
  EXPECT_EQ(engine->startup.startup_name_losses, 12u);
  // The session stays open for about 100 ms.
  EXPECT_GE(engine->startup.startup_name_seconds, 0.08);
  EXPECT_LT(engine->startup.startup_name_seconds, 2.0);
}

TEST_F(TraceSessionTest, a_names_session_that_cannot_start_is_only_recorded) {
  trace_script().names.start_status = ERROR_ACCESS_DENIED;
  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  EXPECT_EQ(trace_script().log(),
            (Log{"guid", "start names", "guid", "start capture", "enable", "open capture", "capture state"}));
  EXPECT_EQ(engine->startup.names_session_status, 5u);
  EXPECT_FALSE(engine->startup.system_names_enabled);
  EXPECT_TRUE(engine->capture.capture_live.load());
}

TEST_F(TraceSessionTest, a_names_consumer_that_cannot_open_stops_its_session_and_records_the_error) {
  trace_script().names.open_error = ERROR_ACCESS_DENIED;
  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  const Log log = trace_script().log();
  EXPECT_EQ(Log(log.begin(), log.begin() + 4), (Log{"guid", "start names", "open names", "stop names"}));
  EXPECT_EQ(engine->startup.names_session_status, 5u);
  EXPECT_FALSE(engine->startup.system_names_enabled);
}

TEST_F(TraceSessionTest, a_failed_names_stop_is_tried_again_by_name_and_closes_the_consumer) {
  trace_script().names.stop_status = ERROR_MORE_DATA;
  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  const Log log = trace_script().log();
  EXPECT_EQ(Log(log.begin(), log.begin() + 6),
            (Log{"guid", "start names", "open names", "stop names", "stop names by name", "close names"}));
  const auto controls = trace_script().controls();
  EXPECT_EQ(controls[1].session, 0u);
  EXPECT_EQ(controls[1].name, controls[0].name);
  // The first stop's outcome is what the engine reports.
  EXPECT_EQ(engine->startup.names_session_status, static_cast<std::uint32_t>(ERROR_MORE_DATA));
  EXPECT_FALSE(engine->startup.system_names_enabled);
}

TEST_F(TraceSessionTest, a_session_that_refuses_both_stops_is_left_after_two_attempts) {
  trace_script().capture.stop_status = ERROR_ACCESS_DENIED;
  trace_script().capture.stop_by_name_status = ERROR_ACCESS_DENIED;
  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  stop_sequence(*engine);
  const Log log = trace_script().log();
  EXPECT_EQ(Log(log.end() - 3, log.end()), (Log{"stop capture", "stop capture by name", "close capture"}));
  EXPECT_FALSE(engine->capture.thread.joinable());
  // Nothing more can end it; the script forgets it so that tear-down checks the rest.
  trace_script().reset();
}

TEST_F(TraceSessionTest, a_later_start_does_not_keep_an_earlier_names_success) {
  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  stop_sequence(*engine);
  ASSERT_TRUE(engine->startup.system_names_enabled);
  trace_script().names.start_status = ERROR_ACCESS_DENIED;
  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  EXPECT_FALSE(engine->startup.system_names_enabled);
  EXPECT_EQ(engine->startup.names_session_status, 5u);
}

TEST_F(TraceSessionTest, a_capture_session_that_cannot_start_returns_its_code_and_keeps_the_watchers) {
  testing::TempDir dir;
  add_root(*engine, 1, reinterpret_cast<const char16_t*>(dir.path().c_str()), false);
  trace_script().capture.start_status = ERROR_ACCESS_DENIED;
  EXPECT_EQ(start_engine(*engine, true, false), 5u);
  const Log log = trace_script().log();
  EXPECT_EQ(log.back(), "start capture");
  EXPECT_EQ(engine->capture.session_handle.load(), 0u);
  EXPECT_FALSE(engine->capture.capture_live.load());
  EXPECT_TRUE(engine->running.load());
  ASSERT_EQ(engine->watchers.size(), 1u);
  EXPECT_TRUE(engine->watchers[0]->active.load());
  stop_sequence(*engine);
  EXPECT_FALSE(engine->running.load());
}

TEST_F(TraceSessionTest, a_provider_that_cannot_be_enabled_stops_the_session_and_returns_the_code) {
  trace_script().enable_status = ERROR_NO_SYSTEM_RESOURCES;
  EXPECT_EQ(start_engine(*engine, true, false), static_cast<std::uint32_t>(ERROR_NO_SYSTEM_RESOURCES));
  const Log log = trace_script().log();
  EXPECT_EQ(Log(log.end() - 3, log.end()), (Log{"start capture", "enable", "stop capture"}));
  EXPECT_EQ(engine->capture.session_handle.load(), 0u);
  EXPECT_TRUE(trace_script().every_started_session_stopped());
}

TEST_F(TraceSessionTest, a_capture_consumer_that_cannot_open_stops_the_session_and_returns_the_last_error) {
  trace_script().capture.open_error = ERROR_ACCESS_DENIED;
  EXPECT_EQ(start_engine(*engine, true, false), 5u);
  const Log log = trace_script().log();
  EXPECT_EQ(Log(log.end() - 3, log.end()), (Log{"enable", "open capture", "stop capture"}));
  EXPECT_EQ(engine->capture.session_handle.load(), 0u);
  EXPECT_EQ(engine->capture.processing_handle.get(), ~0ULL);
  EXPECT_FALSE(engine->capture.capture_live.load());
  EXPECT_TRUE(trace_script().every_started_session_stopped());
}

TEST_F(TraceSessionTest, a_failed_guid_fails_the_capture_before_any_session_starts) {
  trace_script().guid_result = E_OUTOFMEMORY;
  EXPECT_EQ(start_engine(*engine, true, false), static_cast<std::uint32_t>(E_OUTOFMEMORY));
  EXPECT_EQ(trace_script().log(), (Log{"guid", "guid"}));
  EXPECT_EQ(engine->startup.names_session_status, static_cast<std::uint32_t>(E_OUTOFMEMORY));
  EXPECT_EQ(engine->capture.session_handle.load(), 0u);
}

TEST_F(TraceSessionTest, a_failed_capture_state_request_is_only_recorded) {
  trace_script().capture_state_status = ERROR_TIMEOUT;
  EXPECT_EQ(start_engine(*engine, true, false), 0u);
  EXPECT_EQ(engine->startup.capture_state_status, static_cast<std::uint32_t>(ERROR_TIMEOUT));
  EXPECT_TRUE(engine->capture.capture_live.load());
}

TEST_F(TraceSessionTest, keeps_the_losses_read_at_stop_and_leaves_them_after_a_failed_stop) {
  trace_script().capture.events_lost = 7;
  trace_script().capture.log_buffers_lost = 2;
  trace_script().capture.real_time_buffers_lost = 3;
  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  stop_sequence(*engine);
  EXPECT_EQ(engine->startup.events_lost, 7u);
  EXPECT_EQ(engine->startup.buffers_lost, 5u);
  // Stopping again without a capture changes nothing.
  stop_sequence(*engine);
  EXPECT_EQ(engine->startup.events_lost, 7u);

  trace_script().capture.stop_status = ERROR_ACCESS_DENIED;
  trace_script().capture.events_lost = 100;
  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  stop_sequence(*engine);
  EXPECT_EQ(engine->startup.events_lost, 7u);
  EXPECT_EQ(engine->startup.buffers_lost, 5u);
  // The handle is forgotten, the consumer closed and the thread joined anyway.
  EXPECT_EQ(engine->capture.session_handle.load(), 0u);
  EXPECT_EQ(engine->capture.processing_handle.get(), ~0ULL);
  EXPECT_FALSE(engine->capture.thread.joinable());
  // The session itself was ended by the stop by name that followed.
  const Log log = trace_script().log();
  EXPECT_EQ(Log(log.end() - 3, log.end()), (Log{"stop capture", "stop capture by name", "close capture"}));
}

TEST_F(TraceSessionTest, queries_live_losses_while_capturing_and_the_kept_ones_otherwise) {
  engine->startup.events_lost = 1;
  engine->startup.buffers_lost = 2;
  EXPECT_EQ(query_capture_losses(engine->capture, engine->startup)->events, 1u);
  EXPECT_EQ(query_capture_losses(engine->capture, engine->startup)->buffers, 2u);
  EXPECT_TRUE(trace_script().controls().empty());

  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  trace_script().query_events_lost = 11;
  trace_script().query_log_buffers_lost = 12;
  trace_script().query_real_time_buffers_lost = 13;
  const auto live = query_capture_losses(engine->capture, engine->startup);
  ASSERT_TRUE(live.has_value());
  EXPECT_EQ(live->events, 11u);
  EXPECT_EQ(live->buffers, 25u);
  const auto query = trace_script().controls().back();
  EXPECT_EQ(query.code, 0u);
  EXPECT_EQ(query.session, TraceScript::capture_session);
  EXPECT_EQ(query.name, engine->capture.session_name);

  trace_script().query_status = ERROR_WMI_INSTANCE_NOT_FOUND;
  EXPECT_FALSE(query_capture_losses(engine->capture, engine->startup).has_value());
}

TEST_F(TraceSessionTest, statistics_report_live_losses_and_fail_when_the_live_query_fails) {
  engine->startup.events_lost = 1;
  EXPECT_EQ(statistics_values(*engine, gather_live_figures(*engine))[11], 1u);
  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  trace_script().query_events_lost = 9;
  trace_script().query_real_time_buffers_lost = 4;
  const StatisticsValues values = statistics_values(*engine, gather_live_figures(*engine));
  EXPECT_EQ(values[8], 1u);
  EXPECT_EQ(values[11], 9u);
  EXPECT_EQ(values[12], 4u);

  trace_script().query_status = ERROR_WMI_INSTANCE_NOT_FOUND;
  try {
    statistics_values(*engine, gather_live_figures(*engine));
    ADD_FAILURE() << "a failed live query must fail the statistics";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "ControlTrace query failed");
  }
}

TEST_F(TraceSessionTest, destroying_a_capturing_engine_stops_its_session) {
  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  engine.reset();
  EXPECT_TRUE(trace_script().every_started_session_stopped());
  const Log log = trace_script().log();
  EXPECT_EQ(Log(log.end() - 2, log.end()), (Log{"stop capture", "close capture"}));
}

std::ptrdiff_t times(const Log& log, const std::string& word) { return std::count(log.begin(), log.end(), word); }

TEST_F(TraceSessionTest, each_consumer_is_closed_exactly_once_across_stops_and_restarts) {
  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  stop_sequence(*engine);
  stop_sequence(*engine);
  // Failed stops close their consumers before the join rather than after it.
  trace_script().names.stop_status = ERROR_ACCESS_DENIED;
  trace_script().capture.stop_status = ERROR_ACCESS_DENIED;
  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  stop_sequence(*engine);
  engine.reset();
  const Log log = trace_script().log();
  EXPECT_EQ(times(log, "close names"), 2);
  EXPECT_EQ(times(log, "close capture"), 2);
  EXPECT_EQ(times(log, "stop names"), 2);
  EXPECT_EQ(times(log, "stop capture"), 2);
}

// The scripted enable, except that a capture state request throws, as a
// failing allocation inside the call would.
ULONG WINAPI enable_throwing_at_capture_state(TRACEHANDLE session, LPCGUID provider, ULONG code, UCHAR level,
                                              ULONGLONG match_any, ULONGLONG match_all, ULONG timeout,
                                              PENABLE_TRACE_PARAMETERS parameters) {
  if (code == EVENT_CONTROL_CODE_CAPTURE_STATE) throw std::runtime_error("capture state");
  return TraceScript::calls().enable_trace(session, provider, code, level, match_any, match_all, timeout, parameters);
}

TEST_F(TraceSessionTest, an_exception_after_the_capture_consumer_opened_still_closes_it_exactly_once) {
  static const TraceCalls calls = [] {
    TraceCalls throwing = TraceScript::calls();
    throwing.enable_trace = &enable_throwing_at_capture_state;
    return throwing;
  }();
  engine->capture.calls = &calls;
  EXPECT_THROW(start_engine(*engine, true, false), std::runtime_error);
  EXPECT_EQ(engine->capture.processing_handle.get(), TraceScript::capture_consumer);

  stop_sequence(*engine);
  EXPECT_FALSE(engine->capture.processing_handle.valid());
  engine.reset();
  const Log log = trace_script().log();
  EXPECT_EQ(Log(log.end() - 2, log.end()), (Log{"stop capture", "close capture"}));
  EXPECT_EQ(times(log, "close capture"), 1);
}

// Every way a start can fail, followed by a stop or straight by the engine's
// destruction: no session may be left running and no consumer left open.
struct FailurePoint {
  const char* name;
  void (*script)();
  bool stop_before_destroy;
};

const FailurePoint failure_points[] = {
    {"no guid", [] { trace_script().guid_result = E_OUTOFMEMORY; }, false},
    {"names start", [] { trace_script().names.start_status = ERROR_ACCESS_DENIED; }, false},
    {"names open", [] { trace_script().names.open_error = ERROR_ACCESS_DENIED; }, false},
    {"names stop", [] { trace_script().names.stop_status = ERROR_INVALID_PARAMETER; }, false},
    {"capture start", [] { trace_script().capture.start_status = ERROR_ALREADY_EXISTS; }, false},
    {"provider enable", [] { trace_script().enable_status = ERROR_NO_SYSTEM_RESOURCES; }, false},
    {"capture open", [] { trace_script().capture.open_error = ERROR_ACCESS_DENIED; }, true},
    {"capture state", [] { trace_script().capture_state_status = ERROR_TIMEOUT; }, false},
    {"capture stop", [] { trace_script().capture.stop_status = ERROR_INVALID_PARAMETER; }, true},
    {"capture stop at destruction", [] { trace_script().capture.stop_status = ERROR_INVALID_PARAMETER; }, false},
    {"all fine", [] {}, true},
    {"all fine, destroyed while capturing", [] {}, false},
};

// Starts an engine failing at each point in turn, then stops it or destroys
// it straight away; `after_start` looks at the engine as the start left it,
// `after_destroy` at what remains once it is gone.
template <typename AfterStart, typename AfterDestroy>
void at_every_failure_point(AfterStart after_start, AfterDestroy after_destroy) {
  for (const FailurePoint& point : failure_points) {
    SCOPED_TRACE(point.name);
    trace_script().reset();
    point.script();
    EnginePtr engine(create_engine());
    ASSERT_NE(engine, nullptr);
    engine->capture.calls = &TraceScript::calls();
    start_engine(*engine, true, false);
    after_start(*engine);
    if (point.stop_before_destroy) stop_sequence(*engine);
    engine.reset();
    after_destroy();
  }
  trace_script().reset();
}

TEST(TraceSessionFailures, no_failing_step_and_no_moment_of_destruction_leaves_a_session_or_consumer) {
  at_every_failure_point([](Engine&) {},
                         [] {
                           EXPECT_TRUE(trace_script().every_started_session_stopped());
                           EXPECT_TRUE(trace_script().every_opened_consumer_ended());
                         });
}

// Payload of a version 1 read: offset, IRP, file object, file key, then four u32.
std::vector<std::uint8_t> read_payload(std::size_t pointer_size) { return std::vector<std::uint8_t>(8 + 3 * pointer_size + 16, 0x11); }

std::vector<std::uint8_t> classic_name_payload(std::size_t pointer_size, std::u16string name) {
  std::vector<std::uint8_t> bytes(pointer_size, 0x22);
  name.push_back(0);
  const auto* units = reinterpret_cast<const std::uint8_t*>(name.data());
  bytes.insert(bytes.end(), units, units + 2 * name.size());
  return bytes;
}

TEST_F(TraceSessionTest, delivers_capture_records_through_the_callback_on_the_consumer_thread) {
  auto& events = trace_script().capture.events;
  events.push_back({.provider = testing::kernel_file_guid, .id = 15, .version = 1, .header_32bit = true,
                    .process_id = 77, .data = read_payload(4)});
  events.push_back({.provider = testing::kernel_file_guid, .id = 15, .version = 1, .process_id = 77,
                    .data = read_payload(8)});
  // A 32-bit-sized read without the 32-bit header flag is too short.
  events.push_back({.provider = testing::kernel_file_guid, .id = 16, .version = 1, .process_id = 77,
                    .data = read_payload(4)});
  events.push_back({.provider = testing::kernel_file_guid, .id = 13, .version = 0, .process_id = 77});
  events.push_back({.provider = testing::disk_io_guid, .id = 0, .opcode = 10, .process_id = 77});
  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  ASSERT_TRUE(trace_script().wait_until_delivered(TraceScript::capture_consumer, 5000));

  EXPECT_EQ(count(Counter::events), 4u);
  EXPECT_EQ(count(Counter::io_total), 2u);
  EXPECT_EQ(count(Counter::malformed), 1u);
  EXPECT_EQ(count(Counter::helper_events), 1u);
  for (const auto id : trace_script().delivery_threads()) EXPECT_NE(id, std::this_thread::get_id());
}

TEST_F(TraceSessionTest, delivers_classic_name_events_of_the_names_session_with_either_pointer_size) {
  auto& events = trace_script().names.events;
  for (const std::uint8_t opcode : {0, 32, 35, 36})
    events.push_back({.provider = testing::classic_file_io_guid, .opcode = opcode, .process_id = 4,
                      .data = classic_name_payload(8, u"\\Device\\HarddiskVolume1\\a.txt")});
  events.push_back({.provider = testing::classic_file_io_guid, .opcode = 0, .header_32bit = true, .process_id = 4,
                    .data = classic_name_payload(4, u"\\Device\\HarddiskVolume1\\b.txt")});
  // Other opcodes of the class are ignored; a record shorter than a pointer is malformed.
  events.push_back({.provider = testing::classic_file_io_guid, .opcode = 64, .data = classic_name_payload(8, u"x")});
  events.push_back({.provider = testing::classic_file_io_guid, .opcode = 0, .data = {1, 2, 3}});
  events.push_back({.provider = testing::disk_io_guid, .opcode = 10});
  ASSERT_EQ(start_engine(*engine, true, false), 0u);

  EXPECT_EQ(count(Counter::classic_names), 5u);
  EXPECT_EQ(count(Counter::malformed), 1u);
  EXPECT_EQ(count(Counter::helper_events), 1u);
  EXPECT_EQ(count(Counter::events), 0u);
}

}  // namespace
}  // namespace mirrow

namespace mirrow {
namespace {

// The system's own tracing: here it refuses the consumer (or the session),
// and nothing may be left behind.
TEST(TraceSessionOnThisSystem, a_refused_capture_leaves_no_session_and_records_the_names_error) {
  testing::TempDir dir;
  EnginePtr engine(create_engine());
  ASSERT_NE(engine, nullptr);
  add_root(*engine, 1, reinterpret_cast<const char16_t*>(dir.path().c_str()), false);
  const std::uint32_t status = start_engine(*engine, true, false);
  if (status == 0) GTEST_SKIP() << "this system lets the engine trace";
  EXPECT_EQ(status, 5u);
  EXPECT_EQ(engine->startup.names_session_status, 5u);
  EXPECT_FALSE(engine->startup.system_names_enabled);
  EXPECT_EQ(engine->capture.session_handle.load(), 0u);
  EXPECT_EQ(engine->capture.processing_handle.get(), ~0ULL);
  EXPECT_FALSE(engine->capture.thread.joinable());
  EXPECT_FALSE(engine->capture.capture_live.load());
  EXPECT_TRUE(engine->running.load());
  ASSERT_EQ(engine->watchers.size(), 1u);
  EXPECT_TRUE(engine->watchers[0]->active.load());
}

}  // namespace
}  // namespace mirrow

// ---- Ownership marks and the sweep of orphaned sessions ----
namespace mirrow {
namespace {

std::u16string leftover(std::u16string_view prefix, int n) {
  std::u16string number = utf16_from_utf8(std::to_string(n));
  number.insert(0, 12 - number.size(), u'0');
  return std::u16string(prefix) + u"{0000DEAD-0000-0000-0000-" + number + u"}";
}

using testing::any_mark_of;
using testing::mark_exists;

std::u16string global_mark(const std::u16string& session) { return owner_mark_names(session).global; }
std::u16string local_mark(const std::u16string& session) { return owner_mark_names(session).local; }

// Waits for a mark made or released by another process to show.
bool mark_becomes(const std::u16string& mark_name, bool present) {
  for (int waited = 0; waited < 5000; waited += 10) {
    if (mark_exists(mark_name) == present) return true;
    Sleep(10);
  }
  return false;
}

// A live engine elsewhere in this process: a thread that makes a mark and
// holds it until released.
class MarkOnAnotherThread {
 public:
  explicit MarkOnAnotherThread(std::u16string mark_name) {
    std::promise<void> made;
    auto ready = made.get_future();
    thread_ = std::thread([this, mark_name, made = std::move(made)]() mutable {
      UniqueHandle mark(CreateMutexW(nullptr, FALSE, wide(mark_name.c_str())));
      made.set_value();
      release_.get_future().wait();
    });
    ready.wait();
  }
  ~MarkOnAnotherThread() { release(); }
  void release() {
    if (!thread_.joinable()) return;
    release_.set_value();
    thread_.join();
  }

 private:
  std::promise<void> release_;
  std::thread thread_;
};

// A live engine in another process: the helper holds the mark until killed.
class MarkInChildProcess {
 public:
  explicit MarkInChildProcess(const std::u16string& mark_name) {
    const std::wstring program = mirrow::testing::beside_this_program(L"mark_holder_child.exe");
    std::wstring command_line = L"\"" + program + L"\" \"" + wide(mark_name.c_str()) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION created{};
    if (CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                       nullptr, &startup, &created)) {
      process_.reset(created.hProcess);
      CloseHandle(created.hThread);
    }
  }
  ~MarkInChildProcess() { kill(); }
  bool started() const { return process_.valid(); }
  void kill() {
    if (!process_) return;
    TerminateProcess(process_.get(), 9);
    WaitForSingleObject(process_.get(), 5000);
    process_.reset();
  }

 private:
  UniqueHandle process_;
};

const std::u16string orphan_capture = leftover(capture_session_prefix, 1);
const std::u16string orphan_names = leftover(names_session_prefix, 2);

const Log capture_session_steps{"guid", "start capture", "enable", "open capture", "capture state"};

TEST_F(TraceSessionTest, sweep_stops_by_name_only_engine_sessions_without_a_mark_and_before_the_names_session) {
  const std::u16string owned_here = leftover(capture_session_prefix, 3);
  const std::u16string owned_by_another_account = leftover(names_session_prefix, 4);
  MarkOnAnotherThread live_engine(global_mark(owned_here));
  trace_script().unreadable_marks = {global_mark(owned_by_another_account)};
  trace_script().running = {u"NT Kernel Logger",
                            orphan_capture,
                            u"Copy of " + leftover(capture_session_prefix, 5),
                            owned_here,
                            orphan_names,
                            owned_by_another_account,
                            u"EventLog-System"};

  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  EXPECT_EQ(trace_script().swept(), (std::vector<std::u16string>{orphan_capture, orphan_names}));
  EXPECT_EQ(trace_script().running,
            (std::vector<std::u16string>{u"NT Kernel Logger", u"Copy of " + leftover(capture_session_prefix, 5),
                                         owned_here, owned_by_another_account, u"EventLog-System"}));
  for (const auto& control : trace_script().controls())
    if (control.name == orphan_capture || control.name == orphan_names) {
      EXPECT_EQ(control.session, 0u);
      EXPECT_EQ(control.code, 1u);
    }
  const Log trail = trace_script().trail();
  ASSERT_GE(trail.size(), 3u);
  EXPECT_EQ(Log(trail.begin(), trail.begin() + 3),
            (Log{"list 64", "stop listed " + utf8_from_utf16(orphan_capture), "stop listed " + utf8_from_utf16(orphan_names)}));
  // The sessions of this start are exactly as without leftovers.
  EXPECT_EQ(trace_script().log(), joined(names_session_steps, capture_session_steps));
  const OrphanSweep& sweep = engine->capture.last_sweep;
  EXPECT_EQ(sweep.listed, 7u);
  EXPECT_EQ(sweep.orphans, 2u);
  EXPECT_EQ(sweep.stopped, 2u);
  EXPECT_EQ(sweep.failures, 0u);
  EXPECT_EQ(count(Counter::errors), 0u);
}

TEST_F(TraceSessionTest, a_mark_held_by_another_thread_keeps_its_session_until_released) {
  const std::u16string session = leftover(capture_session_prefix, 6);
  MarkOnAnotherThread live_engine(global_mark(session));
  trace_script().running = {session};
  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  EXPECT_TRUE(trace_script().swept().empty());
  stop_sequence(*engine);

  live_engine.release();
  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  EXPECT_EQ(trace_script().swept(), (std::vector<std::u16string>{session}));
  EXPECT_TRUE(trace_script().running.empty());
}

TEST_F(TraceSessionTest, a_mark_held_by_a_child_process_keeps_its_session_until_the_child_is_killed) {
  const std::u16string session = leftover(names_session_prefix, 7);
  MarkInChildProcess child(global_mark(session));
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(mark_becomes(global_mark(session), true));
  trace_script().running = {session};
  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  EXPECT_TRUE(trace_script().swept().empty());
  stop_sequence(*engine);

  child.kill();
  ASSERT_TRUE(mark_becomes(global_mark(session), false));
  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  EXPECT_EQ(trace_script().swept(), (std::vector<std::u16string>{session}));
}

TEST_F(TraceSessionTest, a_mark_in_the_local_namespace_alone_also_shows_an_owner) {
  const std::u16string session = leftover(capture_session_prefix, 8);
  UniqueHandle mark(CreateMutexW(nullptr, FALSE, wide(local_mark(session).c_str())));
  ASSERT_TRUE(mark.valid());
  trace_script().running = {session};
  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  EXPECT_TRUE(trace_script().swept().empty());
}

// The listing has room for 64 sessions at first; here 70 run, orphans
// among the first 64 and beyond them.
std::vector<std::u16string> seventy_sessions() {
  std::vector<std::u16string> running;
  for (int i = 0; i < 70; ++i) running.push_back(u"Foreign-" + utf16_from_utf8(std::to_string(i)));
  running[3] = leftover(capture_session_prefix, 3);
  running[65] = leftover(names_session_prefix, 65);
  running[69] = leftover(capture_session_prefix, 69);
  return running;
}

TEST_F(TraceSessionTest, sweeps_a_session_list_larger_than_one_listing_completely) {
  trace_script().running = seventy_sessions();
  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  EXPECT_EQ(trace_script().swept(),
            (std::vector<std::u16string>{leftover(capture_session_prefix, 3), leftover(names_session_prefix, 65),
                                         leftover(capture_session_prefix, 69)}));
  const Log trail = trace_script().trail();
  EXPECT_EQ(Log(trail.begin(), trail.begin() + 2), (Log{"list 64", "list 78"}));
  EXPECT_EQ(engine->capture.last_sweep.listed, 70u);
  EXPECT_EQ(engine->capture.last_sweep.unseen, 0u);
  EXPECT_EQ(count(Counter::errors), 0u);
}

TEST_F(TraceSessionTest, a_system_that_lists_at_most_64_is_swept_as_far_as_it_shows_and_the_rest_is_counted) {
  trace_script().running = seventy_sessions();
  trace_script().largest_listing = 64;
  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  EXPECT_EQ(trace_script().swept(), (std::vector<std::u16string>{leftover(capture_session_prefix, 3)}));
  EXPECT_EQ(engine->capture.last_sweep.listed, 64u);
  EXPECT_EQ(engine->capture.last_sweep.unseen, 6u);
  EXPECT_EQ(count(Counter::errors), 1u);
  EXPECT_TRUE(engine->capture.capture_live.load());
}

TEST_F(TraceSessionTest, a_failing_listing_is_counted_and_the_start_goes_on_unchanged) {
  trace_script().running = {orphan_capture};
  trace_script().listing_status = ERROR_ACCESS_DENIED;
  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  EXPECT_TRUE(trace_script().swept().empty());
  EXPECT_EQ(count(Counter::errors), 1u);
  EXPECT_EQ(trace_script().log(), joined(names_session_steps, capture_session_steps));
  EXPECT_TRUE(engine->capture.capture_live.load());
}

TEST_F(TraceSessionTest, a_failing_stop_is_counted_and_the_other_orphans_are_still_stopped) {
  const std::u16string already_gone = leftover(capture_session_prefix, 9);
  trace_script().running = {orphan_capture, already_gone, orphan_names};
  trace_script().stop_statuses = {{orphan_capture, ERROR_ACCESS_DENIED}, {already_gone, ERROR_WMI_INSTANCE_NOT_FOUND}};
  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  EXPECT_EQ(trace_script().swept(), (std::vector<std::u16string>{orphan_capture, already_gone, orphan_names}));
  // A session that ended meanwhile (another engine's sweep) is no failure.
  EXPECT_EQ(count(Counter::errors), 1u);
  EXPECT_EQ(engine->capture.last_sweep.stopped, 1u);
  EXPECT_EQ(trace_script().log(), joined(names_session_steps, capture_session_steps));
}

TEST_F(TraceSessionTest, stops_orphans_only_within_its_time_budget_and_leaves_the_rest_for_the_next_start) {
  for (int i = 0; i < 10; ++i) trace_script().running.push_back(leftover(capture_session_prefix, 100 + i));
  trace_script().stop_cost_ms = 500;
  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  EXPECT_EQ(trace_script().swept().size(), 4u);
  EXPECT_EQ(engine->capture.last_sweep.orphans, 10u);
  EXPECT_EQ(engine->capture.last_sweep.left_for_later, 6u);
  EXPECT_EQ(count(Counter::errors), 0u);
  stop_sequence(*engine);

  trace_script().stop_cost_ms = 0;
  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  EXPECT_EQ(trace_script().swept().size(), 10u);
  EXPECT_TRUE(trace_script().running.empty());
}

TEST_F(TraceSessionTest, a_start_without_capture_neither_sweeps_nor_marks) {
  trace_script().running = {orphan_capture};
  ASSERT_EQ(start_engine(*engine, false, false), 0u);
  EXPECT_TRUE(trace_script().trail().empty());
  EXPECT_EQ(trace_script().running, (std::vector<std::u16string>{orphan_capture}));
}

TEST_F(TraceSessionTest, each_session_holds_its_mark_from_before_its_start_until_it_has_stopped) {
  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  const auto starts = trace_script().starts();
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_TRUE(starts[0].owner_mark_held);
  EXPECT_TRUE(starts[1].owner_mark_held);
  EXPECT_EQ(trace_script().marks_made(), (std::vector<std::u16string>{global_mark(starts[0].name), global_mark(starts[1].name)}));
  // The names session has come and gone; the capture session runs.
  EXPECT_FALSE(any_mark_of(starts[0].name));
  EXPECT_TRUE(mark_exists(global_mark(starts[1].name)));
  // Its own engine's next sweep leaves it alone.
  trace_script().running = {starts[1].name};
  EXPECT_EQ(sweep_orphan_sessions(TraceScript::calls()).orphans, 0u);

  stop_sequence(*engine);
  EXPECT_FALSE(any_mark_of(starts[1].name));
}

TEST_F(TraceSessionTest, marks_fall_back_to_the_local_namespace_when_the_global_one_is_refused) {
  trace_script().refuse_global_marks = true;
  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  const auto starts = trace_script().starts();
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(trace_script().marks_made(),
            (std::vector<std::u16string>{global_mark(starts[0].name), local_mark(starts[0].name),
                                         global_mark(starts[1].name), local_mark(starts[1].name)}));
  EXPECT_TRUE(starts[0].owner_mark_held);
  EXPECT_TRUE(mark_exists(local_mark(starts[1].name)));
  EXPECT_EQ(count(Counter::errors), 0u);
  stop_sequence(*engine);
  EXPECT_FALSE(mark_exists(local_mark(starts[1].name)));
}

TEST_F(TraceSessionTest, a_session_whose_mark_cannot_be_made_still_runs_and_is_counted) {
  trace_script().refuse_global_marks = trace_script().refuse_local_marks = true;
  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  EXPECT_FALSE(trace_script().starts().at(1).owner_mark_held);
  EXPECT_EQ(count(Counter::errors), 2u);
  EXPECT_TRUE(engine->capture.capture_live.load());
  EXPECT_EQ(trace_script().log(), joined(names_session_steps, capture_session_steps));
}

TEST_F(TraceSessionTest, destroying_a_capturing_engine_releases_its_mark) {
  ASSERT_EQ(start_engine(*engine, true, false), 0u);
  const std::u16string session = engine->capture.session_name;
  ASSERT_TRUE(mark_exists(global_mark(session)));
  engine.reset();
  EXPECT_FALSE(any_mark_of(session));
}

TEST(TraceSessionFailures, no_failing_step_and_no_moment_of_destruction_leaves_a_mark) {
  at_every_failure_point(
      [](Engine& engine) {
        // Only a running capture session keeps a mark once the start returns.
        for (const auto& start : trace_script().starts())
          EXPECT_EQ(any_mark_of(start.name),
                    start.name == engine.capture.session_name && engine.capture.session_handle.load() != 0);
      },
      [] {
        for (const std::u16string& mark : trace_script().marks_made()) EXPECT_FALSE(mark_exists(mark));
      });
}

}  // namespace
}  // namespace mirrow
