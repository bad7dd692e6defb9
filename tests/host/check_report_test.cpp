// mirrowctl check's judgements and its report, from the texts the libraries
// hand out and the facts of the machine.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host/check_report.h"
#include "host/json_value.h"

namespace mirrow::host {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

const Machine wine{true, true};
const Machine windows_elevated{false, true};
const Machine windows_plain{false, false};

// A snapshot with this process and, optionally, csrss.exe with `verdict`
// (the JSON form of the reason text).
std::string snapshot_with(const std::string& own_verdict, const std::string& csrss_verdict = "") {
  std::string text = "{\"wmi_status\":0,\"processes\":[{\"pid\":7,\"name\":\"mirrowctl.exe\",\"protected\":\"" +
                     own_verdict + "\"}";
  if (!csrss_verdict.empty()) text += ",{\"pid\":500,\"name\":\"csrss.exe\",\"protected\":\"" + csrss_verdict + "\"}";
  return text + "]}";
}

// "Критический / собственный процесс" and "Нет подтверждённых метаданных" as json_quote writes them.
const std::string critical =
    "\\u041a\\u0440\\u0438\\u0442\\u0438\\u0447\\u0435\\u0441\\u043a\\u0438\\u0439 / "
    "\\u0441\\u043e\\u0431\\u0441\\u0442\\u0432\\u0435\\u043d\\u043d\\u044b\\u0439 "
    "\\u043f\\u0440\\u043e\\u0446\\u0435\\u0441\\u0441";
const std::string unconfirmed =
    "\\u041d\\u0435\\u0442 \\u043f\\u043e\\u0434\\u0442\\u0432\\u0435\\u0440\\u0436\\u0434\\u0451\\u043d\\u043d\\u044b\\u0445 "
    "\\u043c\\u0435\\u0442\\u0430\\u0434\\u0430\\u043d\\u043d\\u044b\\u0445";

CaptureEvidence good_capture() {
  CaptureEvidence evidence;
  evidence.capture_live = true;
  evidence.child_write_attributed = true;
  evidence.diagnostics = "{\"classic_names\":12,\"system_names_enabled\":true,\"system_names_error\":0}";
  return evidence;
}

TEST(CheckReport, text_has_one_line_per_area_and_a_summary_that_counts_each_result) {
  const std::vector<CheckLine> lines{{"watcher", CheckResult::passed, "seen"},
                                     {"capture and attribution", CheckResult::unavailable, "no real-time tracing on Wine"},
                                     {"scanner", CheckResult::failed, "miscounted"}};
  const std::string text = check_text(lines);
  EXPECT_THAT(text, HasSubstr("watcher                  passed       seen\n"));
  EXPECT_THAT(text, HasSubstr("capture and attribution  unavailable  no real-time tracing on Wine\n"));
  EXPECT_THAT(text, HasSubstr("\nsummary: 1 passed, 1 failed, 1 unavailable\n"));
  EXPECT_EQ(check_exit_code(lines), 1);
  EXPECT_EQ(check_exit_code({lines[0], lines[1]}), 0);
}

TEST(CheckReport, json_is_one_object_with_every_line_and_the_counts) {
  const std::vector<CheckLine> lines{{"watcher", CheckResult::passed, "a \"quoted\" reason"},
                                     {"load", CheckResult::unavailable, "why"}};
  const std::string json = check_json(lines);
  EXPECT_EQ(json,
            "{\"checks\":[{\"area\":\"watcher\",\"result\":\"passed\",\"reason\":\"a \\\"quoted\\\" reason\"},"
            "{\"area\":\"load\",\"result\":\"unavailable\",\"reason\":\"why\"}],\"passed\":1,\"failed\":0,"
            "\"unavailable\":1}");
  EXPECT_TRUE(parse_json(json).has_value());
}

TEST(CheckReport, the_capture_diagnostics_join_the_json_object_as_a_document_or_null) {
  const std::vector<CheckLine> lines{{"watcher", CheckResult::passed, "seen"}};
  const auto with = parse_json(check_json(lines, "{\"unsupported\":2,\"unknown_samples\":[]}"));
  ASSERT_TRUE(with.has_value());
  EXPECT_EQ((*with)["checks"].items.size(), 1u);
  EXPECT_EQ((*with)["passed"].as_u64(), 1u);
  EXPECT_EQ((*with)["capture_diagnostics"]["unsupported"].as_u64(), 2u);
  for (const char* absent : {"", "{broken", "[1]"}) {
    const auto without = parse_json(check_json(lines, absent));
    ASSERT_TRUE(without.has_value()) << absent;
    EXPECT_TRUE((*without)["capture_diagnostics"].is_null()) << absent;
  }
}

TEST(CheckReport, the_capture_diagnostics_line_shows_the_document_as_it_came_or_null) {
  EXPECT_EQ(capture_diagnostics_text("{\"malformed\":1}"), "capture diagnostics: {\"malformed\":1}\n");
  EXPECT_EQ(capture_diagnostics_text(""), "capture diagnostics: null\n");
  EXPECT_EQ(capture_diagnostics_text("not json"), "capture diagnostics: null\n");
}

TEST(CheckReport, capture_is_unavailable_on_wine_and_without_rights_whatever_the_evidence) {
  for (const Machine& machine : {wine, windows_plain}) {
    EXPECT_EQ(judge_capture(machine, CaptureEvidence{}).result, CheckResult::unavailable);
    EXPECT_EQ(judge_startup_names(machine, CaptureEvidence{}).result, CheckResult::unavailable);
    EXPECT_EQ(judge_session_cleanup(machine, 0, {u"VextrumMirrowNative-{x}"}).result, CheckResult::unavailable);
  }
  EXPECT_EQ(judge_capture(wine, {}).reason, "no real-time tracing on Wine");
  EXPECT_THAT(judge_capture(windows_plain, {}).reason, HasSubstr("not elevated"));
}

TEST(CheckReport, capture_passes_only_when_live_lossless_and_the_child_write_is_attributed) {
  EXPECT_EQ(judge_capture(windows_elevated, good_capture()).result, CheckResult::passed);

  CaptureEvidence refused = good_capture();
  refused.start_status = 5;
  EXPECT_THAT(judge_capture(windows_elevated, refused).reason, HasSubstr("(error 5)"));
  CaptureEvidence idle = good_capture();
  idle.capture_live = false;
  EXPECT_EQ(judge_capture(windows_elevated, idle).result, CheckResult::failed);
  CaptureEvidence lossy = good_capture();
  lossy.buffers_lost = 2;
  EXPECT_THAT(judge_capture(windows_elevated, lossy).reason, HasSubstr("0 events and 2 buffers lost"));
  CaptureEvidence unattributed = good_capture();
  unattributed.child_write_attributed = false;
  EXPECT_EQ(judge_capture(windows_elevated, unattributed).result, CheckResult::failed);
}

TEST(CheckReport, capture_names_the_unsupported_and_malformed_events_the_engine_counted_whatever_the_result) {
  CaptureEvidence passed = good_capture();
  passed.diagnostics = "{\"unsupported\":2,\"malformed\":1,\"system_names_enabled\":true}";
  const CheckLine both = judge_capture(windows_elevated, passed);
  EXPECT_EQ(both.result, CheckResult::passed);
  EXPECT_EQ(both.reason, "a file made by a child process was attributed to its process id; "
                         "the engine counted 2 unsupported and 1 malformed events");

  CaptureEvidence unattributed = passed;
  unattributed.child_write_attributed = false;
  unattributed.diagnostics = "{\"unsupported\":3,\"malformed\":0}";
  EXPECT_EQ(judge_capture(windows_elevated, unattributed).reason,
            "the file a child process made was not attributed to it; the engine counted 3 unsupported events");
  unattributed.diagnostics = "{\"unsupported\":0,\"malformed\":4}";
  EXPECT_THAT(judge_capture(windows_elevated, unattributed).reason, HasSubstr("; the engine counted 4 malformed events"));
}

TEST(CheckReport, capture_says_nothing_of_bad_events_when_none_were_counted_or_the_diagnostics_are_unreadable) {
  CaptureEvidence clean = good_capture();
  clean.diagnostics = "{\"unsupported\":0,\"malformed\":0}";
  EXPECT_EQ(judge_capture(windows_elevated, clean).reason, "a file made by a child process was attributed to its process id");
  clean.diagnostics = "not json";
  EXPECT_EQ(judge_capture(windows_elevated, clean).reason, "a file made by a child process was attributed to its process id");
}

TEST(CheckReport, startup_names_follow_the_diagnostics_flag_and_name_the_error) {
  EXPECT_EQ(judge_startup_names(windows_elevated, good_capture()).result, CheckResult::passed);
  CaptureEvidence failed = good_capture();
  failed.diagnostics = "{\"classic_names\":0,\"system_names_enabled\":false,\"system_names_error\":1450}";
  EXPECT_THAT(judge_startup_names(windows_elevated, failed).reason, HasSubstr("(error 1450)"));
  failed.diagnostics = "not json";
  EXPECT_EQ(judge_startup_names(windows_elevated, failed).result, CheckResult::failed);
}

TEST(CheckReport, only_sessions_with_the_engine_prefixes_count_and_any_left_fails) {
  EXPECT_THAT(engine_session_names({u"EventLog-System", u"VextrumMirrowNames-{1}", u"VextrumMirrowNative-{2}",
                                    u"VextrumMirrowNativ", u"xVextrumMirrowNative-{3}"}),
              ElementsAre(u"VextrumMirrowNames-{1}", u"VextrumMirrowNative-{2}"));
  EXPECT_EQ(judge_session_cleanup(windows_elevated, 0, {}).result, CheckResult::passed);
  const CheckLine left = judge_session_cleanup(windows_elevated, 0, {u"VextrumMirrowNative-{2}"});
  EXPECT_EQ(left.result, CheckResult::failed);
  EXPECT_THAT(left.reason, HasSubstr("1 engine sessions left: VextrumMirrowNative-{2}"));
  EXPECT_EQ(judge_session_cleanup(windows_elevated, 5, {}).result, CheckResult::unavailable);
}

TEST(CheckReport, trace_sessions_fail_only_for_one_without_an_owner_and_name_each) {
  EXPECT_EQ(judge_trace_sessions(0, {}).result, CheckResult::passed);
  const CheckLine owned = judge_trace_sessions(0, {{u"VextrumMirrowNative-{1}", false}});
  EXPECT_EQ(owned.result, CheckResult::passed);
  EXPECT_THAT(owned.reason, HasSubstr("1 engine sessions, 0 without an owner: VextrumMirrowNative-{1} (owner alive)"));
  const CheckLine orphaned =
      judge_trace_sessions(0, {{u"VextrumMirrowNative-{1}", false}, {u"VextrumMirrowNames-{2}", true}});
  EXPECT_EQ(orphaned.result, CheckResult::failed);
  EXPECT_THAT(orphaned.reason, HasSubstr("2 engine sessions, 1 without an owner"));
  EXPECT_THAT(orphaned.reason, HasSubstr("VextrumMirrowNames-{2} (no owner)"));
  EXPECT_EQ(judge_trace_sessions(5, {}).result, CheckResult::unavailable);
}

TEST(CheckReport, snapshot_needs_this_process_refused_and_csrss_critical_on_windows) {
  EXPECT_EQ(judge_snapshot(wine, snapshot_with(unconfirmed), 7).result, CheckResult::passed);
  EXPECT_EQ(judge_snapshot(wine, snapshot_with(""), 7).result, CheckResult::failed);
  EXPECT_EQ(judge_snapshot(wine, snapshot_with(unconfirmed), 8).result, CheckResult::failed);
  EXPECT_EQ(judge_snapshot(wine, "[]", 7).result, CheckResult::failed);

  EXPECT_EQ(judge_snapshot(windows_elevated, snapshot_with(critical, critical), 7).result, CheckResult::passed);
  EXPECT_EQ(judge_snapshot(windows_elevated, snapshot_with(critical, unconfirmed), 7).result, CheckResult::failed);
  EXPECT_EQ(judge_snapshot(windows_elevated, snapshot_with(critical), 7).result, CheckResult::failed);
  EXPECT_EQ(judge_snapshot(windows_plain, snapshot_with(critical, unconfirmed), 7).result, CheckResult::passed);
}

TEST(CheckReport, crash_events_fail_on_an_error_object_except_on_wine) {
  EXPECT_EQ(judge_crash_events(windows_elevated, "[]").result, CheckResult::passed);
  EXPECT_EQ(judge_crash_events(windows_elevated, "[{\"id\":41,\"ticks\":\"1\",\"channel\":\"System\",\"provider\":\"k\"}]").reason,
            "1 recent crash or shutdown events");
  const std::string unreadable = "[{\"id\":0,\"ticks\":\"0\",\"channel\":\"System\",\"provider\":\"unavailable\",\"error\":5}]";
  const CheckLine failed = judge_crash_events(windows_elevated, unreadable);
  EXPECT_EQ(failed.result, CheckResult::failed);
  EXPECT_EQ(failed.reason, "the System log cannot be read (error 5)");
  EXPECT_EQ(judge_crash_events(wine, unreadable).result, CheckResult::unavailable);
  EXPECT_EQ(judge_crash_events(wine, "{}").result, CheckResult::failed);
}

}  // namespace
}  // namespace mirrow::host
