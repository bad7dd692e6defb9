#include "guard/freeze_lifecycle.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "guard/output_lines.h"

namespace mirrow::guard {
namespace {

using ::testing::ElementsAre;

// A freeze on a simulated clock: the owner wait is the only call that lets
// time pass, as on the real system; owner, target, pipe and failures are
// scripted by the millisecond.
class ScriptedPlatform : public FreezePlatform {
 public:
  static constexpr std::uint64_t kStart = 5000;

  // Script.
  bool entry_points = true;
  NtStatus suspend_status = 0;
  NtStatus resume_status = 0;
  std::optional<std::uint64_t> owner_gone_at;
  bool owner_wait_fails = false;
  std::optional<std::uint64_t> owner_wait_fails_at;
  std::optional<std::uint64_t> target_ends_at;
  std::optional<std::uint64_t> pipe_closed_at;
  bool read_fails = false;
  std::vector<std::pair<std::uint64_t, std::string>> arrivals;  // (time, bytes)
  int throw_in_pass = 0;           // target check of this pass throws (1-based)
  bool output_throws = false;
  std::optional<std::uint64_t> ending_requested_at;  // console closing, logoff, shutdown

  // Record.
  std::uint64_t time = kStart;
  std::vector<std::string> events;
  std::vector<std::size_t> read_sizes;
  int passes = 0;

  bool has_suspend_calls() override { return entry_points; }
  NtStatus suspend_target() override {
    events.push_back("suspend");
    return suspend_status;
  }
  NtStatus resume_target() override {
    events.push_back("resume");
    return resume_status;
  }

  OwnerWait wait_for_owner(std::uint32_t timeout_ms) override {
    if (owner_wait_fails) return OwnerWait::failed;
    if (owner_wait_fails_at && *owner_wait_fails_at <= time) {
      time += 1;  // a failed wait returns at once
      return OwnerWait::failed;
    }
    if (owner_gone_at && *owner_gone_at <= time + timeout_ms) {
      time = std::max(time, *owner_gone_at);
      return OwnerWait::signalled;
    }
    time += timeout_ms;
    return OwnerWait::timed_out;
  }

  bool target_ended() override {
    if (++passes == throw_in_pass) throw std::runtime_error("scripted failure");
    return target_ends_at && *target_ends_at <= time;
  }

  std::optional<std::uint32_t> control_bytes_waiting() override {
    if (pipe_closed_at && *pipe_closed_at <= time) return std::nullopt;
    for (auto it = arrivals.begin(); it != arrivals.end();) {
      if (it->first > time) {
        ++it;
        continue;
      }
      waiting_ += it->second;
      it = arrivals.erase(it);
    }
    return static_cast<std::uint32_t>(waiting_.size());
  }

  std::optional<std::size_t> read_control(std::span<std::uint8_t> buffer) override {
    if (read_fails) return std::nullopt;
    const std::size_t n = std::min(buffer.size(), waiting_.size());
    std::copy_n(waiting_.begin(), n, buffer.begin());
    waiting_.erase(0, n);
    read_sizes.push_back(n);
    return n;
  }

  bool ending_requested() override { return ending_requested_at && *ending_requested_at <= time; }
  // As on a closing console: once the handler is let go, Windows ends the
  // process, and whatever it writes after that is lost.
  void announce_resumed() override {
    events.push_back("resumed announced");
    process_ended = true;
  }

  std::uint64_t now_ms() override { return time; }
  void append_to_journal(std::string_view line) override { events.push_back(written("journal ", line)); }
  void write_output(std::string_view line) override {
    if (output_throws) throw std::bad_alloc();
    events.push_back(written("output ", line));
  }

  void heartbeat_every(std::uint64_t period_ms, std::uint64_t until_ms) {
    for (std::uint64_t t = kStart + period_ms; t <= kStart + until_ms; t += period_ms) arrivals.emplace_back(t, ".");
  }

  std::string final_line() const {
    for (auto it = events.rbegin(); it != events.rend(); ++it) {
      if (it->starts_with("output {\"state\":\"res")) return it->substr(7);
    }
    return {};
  }

 private:
  std::string written(std::string_view where, std::string_view line) const {
    return (process_ended ? "lost " : "") + std::string(where) + std::string(line);
  }

  std::string waiting_;
  bool process_ended = false;
};

std::vector<std::string> freeze_events(EndReason reason, NtStatus status) {
  const std::string last = final_state_line(reason, status);
  return {"suspend", "journal " + std::string(kFrozenLine), "output " + std::string(kFrozenLine), "resume",
          "journal " + last, "output " + last, "resumed announced"};
}

TEST(FreezeLifecycle, missing_entry_points_end_it_before_anything_is_touched) {
  ScriptedPlatform platform;
  platform.entry_points = false;
  EXPECT_EQ(run_freeze_lifecycle(platform, 30, 15000), kStatusEntryPointsMissing);
  EXPECT_TRUE(platform.events.empty());
}

TEST(FreezeLifecycle, an_owner_gone_or_unwaitable_before_the_freeze_means_nothing_is_suspended) {
  ScriptedPlatform gone;
  gone.owner_gone_at = 0;
  EXPECT_EQ(run_freeze_lifecycle(gone, 30, 15000), kStatusOwnerGone);
  EXPECT_TRUE(gone.events.empty());

  ScriptedPlatform unwaitable;
  unwaitable.owner_wait_fails = true;
  EXPECT_EQ(run_freeze_lifecycle(unwaitable, 30, 15000), kStatusOwnerGone);
  EXPECT_TRUE(unwaitable.events.empty());
}

TEST(FreezeLifecycle, an_ending_requested_before_the_freeze_means_nothing_is_suspended) {
  ScriptedPlatform platform;
  platform.ending_requested_at = 0;
  EXPECT_EQ(run_freeze_lifecycle(platform, 30, 15000), kStatusOwnerGone);
  EXPECT_TRUE(platform.events.empty());
}

TEST(FreezeLifecycle, a_requested_ending_ends_the_freeze_as_control_closed_and_announces_the_resume) {
  ScriptedPlatform platform;
  platform.heartbeat_every(100, 5000);
  platform.ending_requested_at = ScriptedPlatform::kStart + 250;
  EXPECT_EQ(run_freeze_lifecycle(platform, 600, 15000), 0);
  EXPECT_EQ(platform.events, freeze_events(EndReason::control_closed, 0));
  EXPECT_EQ(platform.time, ScriptedPlatform::kStart + 300);
}

TEST(FreezeLifecycle, a_closing_console_lets_the_process_end_only_after_the_final_line_is_written) {
  ScriptedPlatform platform;
  platform.ending_requested_at = ScriptedPlatform::kStart + 150;
  EXPECT_EQ(run_freeze_lifecycle(platform, 600, 15000), 0);
  const std::string last = final_state_line(EndReason::control_closed, 0);
  EXPECT_THAT(platform.events, ElementsAre("suspend", "journal " + std::string(kFrozenLine),
                                           "output " + std::string(kFrozenLine), "resume", "journal " + last,
                                           "output " + last, "resumed announced"));
}

TEST(FreezeLifecycle, a_refused_suspension_returns_its_status_and_writes_nothing) {
  ScriptedPlatform platform;
  platform.suspend_status = static_cast<NtStatus>(0xC0000022u);
  EXPECT_EQ(run_freeze_lifecycle(platform, 30, 15000), static_cast<NtStatus>(0xC0000022u));
  EXPECT_THAT(platform.events, ElementsAre("suspend"));
}

TEST(FreezeLifecycle, the_lease_ends_it_within_one_pass_of_the_deadline_despite_heartbeats) {
  ScriptedPlatform platform;
  platform.heartbeat_every(100, 5000);
  EXPECT_EQ(run_freeze_lifecycle(platform, 1, 150), 0);
  EXPECT_EQ(platform.events, freeze_events(EndReason::lease_expired, 0));
  EXPECT_GE(platform.time, ScriptedPlatform::kStart + 1000);
  EXPECT_LE(platform.time, ScriptedPlatform::kStart + 1100);
}

TEST(FreezeLifecycle, each_line_is_in_the_journal_before_it_reaches_the_output) {
  ScriptedPlatform platform;
  platform.owner_gone_at = ScriptedPlatform::kStart + 250;
  run_freeze_lifecycle(platform, 600, 15000);
  EXPECT_EQ(platform.events, freeze_events(EndReason::owner_exited, 0));
}

TEST(FreezeLifecycle, the_owner_is_tested_before_a_resume_request_of_the_same_pass) {
  ScriptedPlatform platform;
  platform.owner_gone_at = ScriptedPlatform::kStart + 150;
  platform.arrivals.emplace_back(ScriptedPlatform::kStart + 120, "R");
  run_freeze_lifecycle(platform, 600, 15000);
  EXPECT_EQ(platform.final_line(), final_state_line(EndReason::owner_exited, 0));
}

TEST(FreezeLifecycle, an_owner_wait_failing_during_the_freeze_ends_it_as_owner_exited_at_once) {
  ScriptedPlatform platform;
  platform.heartbeat_every(100, 5000);
  platform.owner_wait_fails_at = ScriptedPlatform::kStart + 300;
  run_freeze_lifecycle(platform, 600, 15000);
  EXPECT_EQ(platform.events, freeze_events(EndReason::owner_exited, 0));
  EXPECT_LT(platform.time, ScriptedPlatform::kStart + 400);
}

TEST(FreezeLifecycle, an_ended_target_is_still_resumed_and_the_state_follows_that_status) {
  ScriptedPlatform platform;
  platform.target_ends_at = ScriptedPlatform::kStart + 350;
  platform.resume_status = static_cast<NtStatus>(0xC000010Au);
  EXPECT_EQ(run_freeze_lifecycle(platform, 600, 15000), static_cast<NtStatus>(0xC000010Au));
  EXPECT_EQ(platform.events, freeze_events(EndReason::target_exited, static_cast<NtStatus>(0xC000010Au)));
  EXPECT_EQ(platform.time, ScriptedPlatform::kStart + 400);
}

TEST(FreezeLifecycle, a_closed_or_unreadable_control_pipe_ends_it_as_control_closed) {
  ScriptedPlatform closed;
  closed.pipe_closed_at = ScriptedPlatform::kStart + 220;
  run_freeze_lifecycle(closed, 600, 15000);
  EXPECT_EQ(closed.final_line(), final_state_line(EndReason::control_closed, 0));
  EXPECT_EQ(closed.time, ScriptedPlatform::kStart + 300);

  ScriptedPlatform unreadable;
  unreadable.read_fails = true;
  unreadable.arrivals.emplace_back(ScriptedPlatform::kStart, "x");
  run_freeze_lifecycle(unreadable, 600, 15000);
  EXPECT_EQ(unreadable.final_line(), final_state_line(EndReason::control_closed, 0));
}

TEST(FreezeLifecycle, an_r_anywhere_in_a_chunk_of_heartbeats_requests_the_resume) {
  ScriptedPlatform platform;
  platform.arrivals.emplace_back(ScriptedPlatform::kStart + 50, "....R..");
  run_freeze_lifecycle(platform, 600, 15000);
  EXPECT_EQ(platform.final_line(), final_state_line(EndReason::requested, 0));
  EXPECT_EQ(platform.time, ScriptedPlatform::kStart + 100);
}

TEST(FreezeLifecycle, bytes_are_read_128_at_a_time_so_a_late_r_ends_a_later_pass) {
  ScriptedPlatform platform;
  platform.arrivals.emplace_back(ScriptedPlatform::kStart, std::string(200, '.') + "R");
  run_freeze_lifecycle(platform, 600, 15000);
  EXPECT_THAT(platform.read_sizes, ElementsAre(128, 73));
  EXPECT_EQ(platform.final_line(), final_state_line(EndReason::requested, 0));
  EXPECT_EQ(platform.time, ScriptedPlatform::kStart + 200);
}

TEST(FreezeLifecycle, silence_longer_than_the_heartbeat_timeout_ends_it_on_the_first_pass_that_sees_it) {
  ScriptedPlatform platform;
  run_freeze_lifecycle(platform, 600, 150);
  EXPECT_EQ(platform.final_line(), final_state_line(EndReason::heartbeat_lost, 0));
  EXPECT_EQ(platform.time, ScriptedPlatform::kStart + 200);

  ScriptedPlatform exactly_at_timeout;
  run_freeze_lifecycle(exactly_at_timeout, 600, 200);
  EXPECT_EQ(exactly_at_timeout.time, ScriptedPlatform::kStart + 300);
}

TEST(FreezeLifecycle, every_byte_counts_as_a_heartbeat) {
  ScriptedPlatform platform;
  platform.heartbeat_every(100, 1000);
  run_freeze_lifecycle(platform, 600, 150);
  EXPECT_EQ(platform.final_line(), final_state_line(EndReason::heartbeat_lost, 0));
  EXPECT_EQ(platform.time, ScriptedPlatform::kStart + 1200);
}

TEST(FreezeLifecycle, an_exception_in_the_wait_loop_still_resumes_the_target) {
  ScriptedPlatform platform;
  platform.throw_in_pass = 3;
  EXPECT_EQ(run_freeze_lifecycle(platform, 600, 15000), 0);
  EXPECT_EQ(platform.events, freeze_events(EndReason::guard_error, 0));
}

TEST(FreezeLifecycle, a_failure_while_announcing_the_freeze_resumes_at_once_and_still_returns_the_status) {
  ScriptedPlatform platform;
  platform.output_throws = true;
  EXPECT_EQ(run_freeze_lifecycle(platform, 600, 15000), 0);
  EXPECT_THAT(platform.events,
              ElementsAre("suspend", "journal " + std::string(kFrozenLine), "resume",
                          "journal " + final_state_line(EndReason::guard_error, 0), "resumed announced"));
  EXPECT_EQ(platform.time, ScriptedPlatform::kStart);
}

TEST(FreezeLifecycle, a_refused_resume_is_reported_as_resume_failed_and_returned) {
  ScriptedPlatform platform;
  platform.resume_status = -5;
  platform.arrivals.emplace_back(ScriptedPlatform::kStart, "R");
  EXPECT_EQ(run_freeze_lifecycle(platform, 600, 15000), -5);
  EXPECT_EQ(platform.final_line(), R"({"state":"resume_failed","reason":"requested","status":-5})");
  EXPECT_EQ(std::ranges::count(platform.events, std::string("resume")), 1);
}

}  // namespace
}  // namespace mirrow::guard
