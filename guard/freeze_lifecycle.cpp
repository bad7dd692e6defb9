#include "guard/freeze_lifecycle.h"

#include <algorithm>
#include <array>

#include "guard/output_lines.h"

namespace mirrow::guard {
namespace {

// Reads what waits on the control pipe. Any byte is a heartbeat; an "R"
// among the bytes read asks for the resume.
std::optional<EndReason> listen_to_control(FreezePlatform& platform, std::uint64_t& last_heard_ms) {
  const std::optional<std::uint32_t> waiting = platform.control_bytes_waiting();
  if (!waiting) return EndReason::control_closed;
  if (*waiting == 0) return std::nullopt;

  std::array<std::uint8_t, kControlReadLimit> buffer{};
  const std::size_t wanted = std::min<std::size_t>(*waiting, buffer.size());
  const std::optional<std::size_t> read = platform.read_control(std::span(buffer.data(), wanted));
  if (!read) return EndReason::control_closed;
  last_heard_ms = platform.now_ms();
  const auto bytes = std::span(buffer.data(), std::min(*read, wanted));
  if (std::ranges::find(bytes, kResumeRequestByte) != bytes.end()) return EndReason::requested;
  return std::nullopt;
}

// One pass of the wait loop; its only blocking call is the wait on the owner.
// A failed wait ends the freeze like a signalled one: it returns at once, so
// the loop would otherwise spin without watching the owner at all.
std::optional<EndReason> one_pass(FreezePlatform& platform, std::uint64_t& last_heard_ms,
                                  std::uint32_t heartbeat_timeout_ms) {
  if (platform.wait_for_owner(kOwnerWaitPerPassMs) != OwnerWait::timed_out) return EndReason::owner_exited;
  if (platform.ending_requested()) return EndReason::control_closed;
  if (platform.target_ended()) return EndReason::target_exited;
  if (const auto heard = listen_to_control(platform, last_heard_ms)) return heard;
  if (platform.now_ms() - last_heard_ms > heartbeat_timeout_ms) return EndReason::heartbeat_lost;
  return std::nullopt;
}

EndReason wait_for_first_ending(FreezePlatform& platform, std::uint32_t lease_seconds,
                                std::uint32_t heartbeat_timeout_ms) {
  const std::uint64_t deadline_ms = platform.now_ms() + std::uint64_t{lease_seconds} * 1000u;
  std::uint64_t last_heard_ms = platform.now_ms();
  while (platform.now_ms() < deadline_ms) {
    try {
      if (const auto reason = one_pass(platform, last_heard_ms, heartbeat_timeout_ms)) return *reason;
    } catch (...) {
      return EndReason::guard_error;
    }
  }
  return EndReason::lease_expired;
}

// Journal first, so that a line is in the file before the host can see it.
void report(FreezePlatform& platform, std::string_view line) {
  platform.append_to_journal(line);
  platform.write_output(line);
}

// Everything between the suspension and the resume. Whatever goes wrong in
// here, even while announcing the freeze, ends in a resume.
EndReason hold_frozen(FreezePlatform& platform, std::uint32_t lease_seconds, std::uint32_t heartbeat_timeout_ms) {
  try {
    report(platform, kFrozenLine);
    return wait_for_first_ending(platform, lease_seconds, heartbeat_timeout_ms);
  } catch (...) {
    return EndReason::guard_error;
  }
}

}  // namespace

NtStatus run_freeze_lifecycle(FreezePlatform& platform, std::uint32_t lease_seconds,
                              std::uint32_t heartbeat_timeout_ms) {
  if (!platform.has_suspend_calls()) return kStatusEntryPointsMissing;
  // A failed wait counts like a signalled one: without a live owner there is
  // nobody to keep the lease.
  if (platform.wait_for_owner(0) != OwnerWait::timed_out) return kStatusOwnerGone;
  // A guard already told to end would be ended with the target suspended.
  if (platform.ending_requested()) return kStatusOwnerGone;
  const NtStatus suspended = platform.suspend_target();
  if (!nt_success(suspended)) return suspended;

  const EndReason reason = hold_frozen(platform, lease_seconds, heartbeat_timeout_ms);
  const NtStatus resumed = platform.resume_target();
  try {
    report(platform, final_state_line(reason, resumed));
  } catch (...) {
    // The target runs again; a lost final line must not turn into a crash.
  }
  // Only now may the console handler let the process end: a journal that
  // lost its final line would end with the frozen line although the target
  // runs, and a later recovery would resume whatever suspended it since.
  platform.announce_resumed();
  return resumed;
}

}  // namespace mirrow::guard
