#pragma once
// Every line the guard writes to standard output and to its journal. Lines
// are compact JSON in plain ASCII without the line feed; the writer adds it.
#include <cstdint>
#include <string>
#include <string_view>

#include "guard/end_reason.h"

namespace mirrow::guard {

inline constexpr std::string_view kWrongArgumentCountLine =
    R"({"error":"Expected pid, creation ticks, lease, image path, journal path"})";
inline constexpr std::string_view kInvalidIdentityLine = R"({"error":"Invalid identity or lease"})";
inline constexpr std::string_view kCannotPinLine = R"({"error":"Cannot pin original process handle"})";
inline constexpr std::string_view kFrozenLine = R"({"state":"frozen"})";

// A live guard holds a freeze of this target: the recovery form's answer
// when it touches nothing, and the normal form's when it refuses a second
// freeze.
inline constexpr std::string_view kGuardRunningLine = R"({"state":"guard_running"})";
// The normal form's refusal when the journal ends with the frozen line of a
// guard that is gone: the recovery form must resume that freeze first.
inline constexpr std::string_view kNeedsRecoveryLine = R"({"state":"needs_recovery"})";
// The recovery form's answers when it touches nothing, and when the frozen
// instance no longer exists.
inline constexpr std::string_view kNothingToRecoverLine = R"({"state":"nothing_to_recover"})";
inline constexpr std::string_view kTargetGoneLine = R"({"state":"abandoned","reason":"target_gone"})";

// {"error":<reason as a JSON string>}; the Cyrillic reason travels escaped.
std::string refusal_line(std::u16string_view reason);

// {"error":"NT suspend/resume failed","status":<signed decimal>}
std::string status_error_line(std::int32_t status);

// {"state":"resumed"|"resume_failed","reason":<word>,"status":<signed decimal>}
std::string final_state_line(EndReason reason, std::int32_t resume_status);

// The recovery form's final line, shaped like the freeze's own final line:
// {"state":"resumed"|"resume_failed","reason":"recovered","status":<signed decimal>}
std::string recovered_line(std::int32_t resume_status);

struct SelfTestStatuses {
  std::int32_t lease = 0;
  std::int32_t owner_exit = 0;
  std::int32_t requested = 0;
  std::int32_t heartbeat = 0;

  bool all_succeeded() const { return lease >= 0 && owner_exit >= 0 && requested >= 0 && heartbeat >= 0; }
};

// {"own_fixture_only":true,"lease_status":..,"owner_exit_status":..,
//  "requested_status":..,"heartbeat_status":..}
std::string self_test_summary_line(const SelfTestStatuses& statuses);

// The line as it goes on the wire: the text and one line feed, so that a
// single write carries the whole line.
std::string with_line_feed(std::string_view line);

}  // namespace mirrow::guard
