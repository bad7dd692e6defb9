#pragma once
// The guard's program flow from the argument vector to the exit code:
// dispatch of the special forms, then for the normal form the identity and
// lease checks against one process table, the verdict, the pin and the
// freeze. The platform supplies every effect, so the flow is the same over
// the real system and over a stand-in.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "classifier/process_facts.h"
#include "guard/nt_status.h"
#include "guard/recovery.h"

namespace mirrow::guard {

inline constexpr std::uint32_t kHeartbeatTimeoutMs = 15000;

class GuardPlatform {
 public:
  virtual ~GuardPlatform() = default;

  virtual void write_output(std::string_view line) = 0;
  // Fixture mode never ends by itself.
  virtual int run_fixture() = 0;
  virtual int run_self_test() = 0;
  // Resumes a target whose guard was killed while it was frozen.
  virtual int run_recovery(const RecoveryArguments& arguments) = 0;

  virtual ProcessTable collect_table() = 0;
  virtual std::uint32_t own_pid() = 0;
  virtual std::u16string protection_reason(const ProcessFacts& target, const ProcessTable& table,
                                           std::uint32_t anchor_pid) = 0;
  // Opens the target and the owner and proves by the creation time that the
  // opened target is the instance that was checked. The platform keeps the
  // handles until it is destroyed.
  virtual bool pin(std::uint32_t target_pid, std::uint32_t owner_pid, std::uint64_t creation_ticks) = 0;
  // Takes the target's freeze mark (see freeze_mark_name) and keeps it until
  // the platform is destroyed, after the final line; false when another
  // guard holds it or it cannot be made.
  virtual bool take_freeze_mark(std::uint32_t target_pid, std::uint64_t creation_ticks) = 0;
  // The last `max_bytes` of the journal; nothing when the path is empty or
  // the file is missing or unreadable.
  virtual std::optional<JournalTail> read_journal_tail(std::u16string_view path, std::size_t max_bytes) = 0;
  // Freezes the pinned target under the pinned owner.
  virtual NtStatus freeze_pinned(std::uint32_t lease_seconds, std::u16string_view journal_path,
                                 std::uint32_t heartbeat_timeout_ms) = 0;
};

// The reason text when the target is not the instance the host named.
inline constexpr std::u16string_view kIdentityChangedReason = u"Экземпляр процесса изменился";

// Returns the exit code; writes the outcome lines through the platform.
int run_guard(std::span<const std::u16string> arguments, GuardPlatform& platform);

}  // namespace mirrow::guard
