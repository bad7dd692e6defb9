#pragma once
// The recovery form: a guard that was killed while its target was frozen
// leaves a journal whose last line is the frozen line. Started with
// "--recover", the guard finds such a target and resumes it once, provided
// no live guard still holds that freeze and the process is the very instance
// that was frozen. No verdict runs: resuming is always allowed.
// The normal form reads the same journal tail and the same mark before it
// suspends, so that a second freeze never hides a stranded one.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "guard/nt_status.h"

namespace mirrow::guard {

// The four values after "--recover", read like those of the normal form.
struct RecoveryArguments {
  std::uint32_t pid = 0;
  std::uint64_t creation_ticks = 0;
  std::u16string image_path;
  std::u16string journal_path;
};

// Expects guard_form(arguments) == GuardForm::recover.
RecoveryArguments parse_recovery_arguments(std::span<const std::u16string> arguments);

// The name of the mutex a guard holds while it keeps a target frozen:
// Local\MirrowFreezeGuard-<pid>-<creation ticks>, both in decimal. A guard
// takes it before the suspension and keeps it until after its final line,
// and takes it only when no other guard holds it, so at most one guard at a
// time has this target suspended.
std::u16string freeze_mark_name(std::uint32_t pid, std::uint64_t creation_ticks);

// The end of a journal: its last bytes, and whether they are the whole file.
struct JournalTail {
  std::string bytes;
  bool whole_file = false;
};

// Enough to hold the frozen line with the line feeds on both sides of it.
inline constexpr std::size_t kJournalTailBytes = 64;

// True when the last line is exactly the frozen line, ended by one line feed
// or by the end of the file. The guard writes bare line feeds, so a carriage
// return before the line feed makes the line a different one, and an empty
// last line (two line feeds at the end) is not the frozen line either.
bool journal_ends_frozen(const JournalTail& tail);

class RecoveryPlatform {
 public:
  virtual ~RecoveryPlatform() = default;

  // A guard holds the freeze mark of this target. Asked before and again
  // after the journal is read.
  virtual bool freeze_mark_exists(std::u16string_view name) = 0;
  // The last `max_bytes` of the journal; nothing when it is missing or unreadable.
  virtual std::optional<JournalTail> read_journal_tail(std::u16string_view path, std::size_t max_bytes) = 0;
  // Opens the target the way the normal form pins it and proves its creation
  // time; returns the image path of the opened process, or nothing when the
  // id names no process or another instance, or the process has ended. The
  // platform keeps the handle.
  virtual std::optional<std::u16string> pin_target(std::uint32_t pid, std::uint64_t creation_ticks) = 0;
  // One process-wide resume of the pinned target.
  virtual NtStatus resume_pinned() = 0;
  virtual void append_to_journal(std::u16string_view path, std::string_view line) = 0;
  virtual void write_output(std::string_view line) = 0;
};

// Returns the exit code; writes the outcome line through the platform.
int run_recovery(const RecoveryArguments& arguments, RecoveryPlatform& platform);

}  // namespace mirrow::guard
