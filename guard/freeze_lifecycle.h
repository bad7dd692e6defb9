#pragma once
// The suspension lifecycle: suspend the target once, keep it suspended only
// while the owner lives, the lease runs and the host keeps talking on the
// control pipe, and resume it exactly once at the first ending condition.
// Written against FreezePlatform so that the decisions run the same way over
// the real Windows calls and over a scripted stand-in.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "guard/end_reason.h"
#include "guard/nt_status.h"

namespace mirrow::guard {

enum class OwnerWait { signalled, timed_out, failed };

// The platform calls one freeze makes. The target, the owner, the control
// pipe and the journal are bound into the implementation.
class FreezePlatform {
 public:
  virtual ~FreezePlatform() = default;

  // Both native entry points (process-wide suspend and resume) exist.
  virtual bool has_suspend_calls() = 0;
  virtual NtStatus suspend_target() = 0;
  virtual NtStatus resume_target() = 0;
  virtual OwnerWait wait_for_owner(std::uint32_t timeout_ms) = 0;
  // The target process has ended (a zero-timeout wait is signalled).
  virtual bool target_ended() = 0;
  // Bytes waiting on the control pipe, or nothing when it cannot be peeked.
  virtual std::optional<std::uint32_t> control_bytes_waiting() = 0;
  // Reads up to buffer.size() bytes; nothing when the read fails.
  virtual std::optional<std::size_t> read_control(std::span<std::uint8_t> buffer) = 0;
  virtual std::uint64_t now_ms() = 0;
  virtual void append_to_journal(std::string_view line) = 0;
  virtual void write_output(std::string_view line) = 0;

  // The guard's console is closing, or the user logs off or the system shuts
  // down: the host is going away, so the freeze ends as if the control pipe
  // had closed. Platforms without a console never ask.
  virtual bool ending_requested() { return false; }
  // Called once the target runs again and its final line is written:
  // whoever keeps the process alive until then (the console handler) may
  // let it go now, and the process may end at once.
  virtual void announce_resumed() {}
};

inline constexpr std::uint32_t kOwnerWaitPerPassMs = 100;
inline constexpr std::size_t kControlReadLimit = 128;
inline constexpr std::uint8_t kResumeRequestByte = 'R';

// Runs one freeze; returns the resume status, or the reason it never began
// (kStatusEntryPointsMissing, kStatusOwnerGone also when an ending was
// requested before the suspension, the failed suspend status).
// Once the target is suspended it is resumed on every path, an exception
// included.
NtStatus run_freeze_lifecycle(FreezePlatform& platform, std::uint32_t lease_seconds,
                              std::uint32_t heartbeat_timeout_ms);

}  // namespace mirrow::guard
