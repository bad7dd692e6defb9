#include "guard/guard_program.h"

#include "common/lowercase.h"
#include "guard/command_line.h"
#include "guard/exit_codes.h"
#include "guard/output_lines.h"

namespace mirrow::guard {
namespace {

// The owner is the guard's own parent; 0 when the guard cannot name one,
// the target is not in the table or the lease is out of range.
std::uint32_t owner_if_valid(const GuardArguments& arguments, const ProcessTable& table, std::uint32_t own_pid) {
  const auto own = table.find(own_pid);
  if (own == table.end() || own->second.parent_pid == 0) return 0;
  if (!table.contains(arguments.pid) || !lease_is_valid(arguments.lease_seconds)) return 0;
  return own->second.parent_pid;
}

// The creation time names the instance; the path is only compared when the
// times agree.
bool same_instance(const GuardArguments& arguments, const ProcessFacts& target) {
  if (arguments.creation_ticks != target.creation_time) return false;
  return to_lower(arguments.image_path) == to_lower(target.image_path);
}

// A second freeze would hide the first one: its resume undoes only its own
// suspension, and its final line makes the journal look finished, so a
// recovery finds nothing to do while the target stands still. So the guard
// never suspends while another guard holds this target, nor while the
// journal ends with the frozen line of a guard that is gone (that freeze
// needs the recovery form first). Nothing is touched or written to the
// journal then.
std::optional<int> refuse_to_hide_another_freeze(const GuardArguments& arguments, GuardPlatform& platform) {
  if (!platform.take_freeze_mark(arguments.pid, arguments.creation_ticks)) {
    platform.write_output(kGuardRunningLine);
    return kExitGuardRunning;
  }
  const std::optional<JournalTail> tail = platform.read_journal_tail(arguments.journal_path, kJournalTailBytes);
  if (tail && journal_ends_frozen(*tail)) {
    platform.write_output(kNeedsRecoveryLine);
    return kExitNeedsRecovery;
  }
  return std::nullopt;
}

int run_normal_form(const GuardArguments& arguments, GuardPlatform& platform) {
  const ProcessTable table = platform.collect_table();
  const std::uint32_t owner_pid = owner_if_valid(arguments, table, platform.own_pid());
  if (owner_pid == 0) {
    platform.write_output(kInvalidIdentityLine);
    return kExitBadArguments;
  }

  const ProcessFacts target = table.at(arguments.pid);
  std::u16string reason = platform.protection_reason(target, table, owner_pid);
  if (!same_instance(arguments, target)) reason = kIdentityChangedReason;
  if (!reason.empty()) {
    platform.write_output(refusal_line(reason));
    return kExitRefused;
  }

  if (!platform.pin(arguments.pid, owner_pid, arguments.creation_ticks)) {
    platform.write_output(kCannotPinLine);
    return kExitCannotPin;
  }
  if (const auto refused = refuse_to_hide_another_freeze(arguments, platform)) return *refused;
  const NtStatus status = platform.freeze_pinned(arguments.lease_seconds, arguments.journal_path, kHeartbeatTimeoutMs);
  if (!nt_success(status)) {
    platform.write_output(status_error_line(status));
    return kExitSuspensionFailed;
  }
  return kExitFrozenAndResumed;
}

}  // namespace

int run_guard(std::span<const std::u16string> arguments, GuardPlatform& platform) {
  switch (guard_form(arguments)) {
    case GuardForm::fixture:
      return platform.run_fixture();
    case GuardForm::self_test:
      return platform.run_self_test();
    case GuardForm::recover:
      return platform.run_recovery(parse_recovery_arguments(arguments));
    case GuardForm::normal:
      return run_normal_form(parse_guard_arguments(arguments), platform);
    case GuardForm::wrong_count:
      break;
  }
  platform.write_output(kWrongArgumentCountLine);
  return kExitBadArguments;
}

}  // namespace mirrow::guard
