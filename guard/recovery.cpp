#include "guard/recovery.h"

#include "common/lowercase.h"
#include "common/number_format.h"
#include "guard/command_line.h"
#include "guard/exit_codes.h"
#include "guard/output_lines.h"

namespace mirrow::guard {
namespace {

// The pinned process must also run the image that was frozen; the path is
// compared without regard to letter case, as the normal form compares it.
bool is_the_frozen_instance(const std::optional<std::u16string>& pinned_image, const RecoveryArguments& arguments) {
  return pinned_image && to_lower(*pinned_image) == to_lower(arguments.image_path);
}

// Journal first, as the freeze reports. A frozen line that lacks its line
// feed gets one first, so that the new line stands on a line of its own.
void report(RecoveryPlatform& platform, const RecoveryArguments& arguments, const JournalTail& tail,
            std::string_view line) {
  const std::string entry = tail.bytes.ends_with('\n') ? std::string(line) : "\n" + std::string(line);
  platform.append_to_journal(arguments.journal_path, entry);
  platform.write_output(line);
}

}  // namespace

RecoveryArguments parse_recovery_arguments(std::span<const std::u16string> arguments) {
  RecoveryArguments parsed;
  parsed.pid = read_decimal_u32(arguments[1]);
  parsed.creation_ticks = read_decimal_u64(arguments[2]);
  parsed.image_path = arguments[3];
  parsed.journal_path = arguments[4];
  return parsed;
}

std::u16string freeze_mark_name(std::uint32_t pid, std::uint64_t creation_ticks) {
  std::string digits;
  append_u64(digits, pid);
  digits.push_back('-');
  append_u64(digits, creation_ticks);
  return u"Local\\MirrowFreezeGuard-" + std::u16string(digits.begin(), digits.end());
}

bool journal_ends_frozen(const JournalTail& tail) {
  std::string_view text = tail.bytes;
  if (text.ends_with('\n')) text.remove_suffix(1);
  if (!text.ends_with(kFrozenLine)) return false;
  text.remove_suffix(kFrozenLine.size());
  return text.empty() ? tail.whole_file : text.ends_with('\n');
}

int run_recovery(const RecoveryArguments& arguments, RecoveryPlatform& platform) {
  const std::u16string mark = freeze_mark_name(arguments.pid, arguments.creation_ticks);
  if (platform.freeze_mark_exists(mark)) {
    platform.write_output(kGuardRunningLine);
    return kExitFrozenAndResumed;
  }
  const std::optional<JournalTail> tail = platform.read_journal_tail(arguments.journal_path, kJournalTailBytes);
  if (!tail || !journal_ends_frozen(*tail)) {
    platform.write_output(kNothingToRecoverLine);
    return kExitFrozenAndResumed;
  }
  // A guard may have taken the mark, suspended the target and written its
  // frozen line since the first look. It holds the mark from before its
  // suspension until after its final line, so a frozen line that is its own
  // shows here as a mark that exists, and its freeze is left alone.
  if (platform.freeze_mark_exists(mark)) {
    platform.write_output(kGuardRunningLine);
    return kExitFrozenAndResumed;
  }
  if (!is_the_frozen_instance(platform.pin_target(arguments.pid, arguments.creation_ticks), arguments)) {
    report(platform, arguments, *tail, kTargetGoneLine);
    return kExitCannotPin;
  }
  const NtStatus status = platform.resume_pinned();
  report(platform, arguments, *tail, recovered_line(status));
  if (!nt_success(status)) {
    platform.write_output(status_error_line(status));
    return kExitSuspensionFailed;
  }
  return kExitFrozenAndResumed;
}

}  // namespace mirrow::guard
