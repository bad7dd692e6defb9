// mirrowctl freeze and selftest: FreezeGuard.exe started with pipes, its
// lines shown as sentences, the lease kept alive with heartbeats.
#include <windows.h>

#include "common/clock.h"
#include "common/utf16.h"
#include "host/commands_win.h"
#include "host/console_win.h"
#include "host/freeze_records_win.h"
#include "host/guard_dialogue.h"
#include "host/guard_process_win.h"
#include "host/libraries_win.h"

namespace mirrow::host {
namespace {

constexpr DWORD kPollMs = 100;

void show_lines(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) write_out("guard: " + describe_guard_line(line) + "\n");
}

// Enter on standard input: a key press on a console, a line feed on a pipe.
class EnterKey {
 public:
  EnterKey() : input_(GetStdHandle(STD_INPUT_HANDLE)) {
    DWORD mode = 0;
    console_ = GetConsoleMode(input_, &mode) != 0;
  }

  bool pressed() {
    if (input_ == nullptr || input_ == INVALID_HANDLE_VALUE) return false;
    return console_ ? console_enter() : pipe_line_feed();
  }

 private:
  bool console_enter() {
    DWORD count = 0;
    while (GetNumberOfConsoleInputEvents(input_, &count) && count > 0) {
      INPUT_RECORD record{};
      DWORD read = 0;
      if (!ReadConsoleInputW(input_, &record, 1, &read) || read == 0) return false;
      if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
          record.Event.KeyEvent.wVirtualKeyCode == VK_RETURN)
        return true;
    }
    return false;
  }

  bool pipe_line_feed() {
    DWORD available = 0;
    if (!PeekNamedPipe(input_, nullptr, 0, nullptr, &available, nullptr) || available == 0) return false;
    char buffer[256];
    DWORD read = 0;
    if (!ReadFile(input_, buffer, available < sizeof buffer ? available : sizeof buffer, &read, nullptr)) return false;
    return std::string_view(buffer, read).find('\n') != std::string_view::npos;
  }

  HANDLE input_;
  bool console_ = false;
};

// Keeps the lease alive until the guard ends; asks for the resume once on
// Enter or Ctrl+C. Returns the guard's exit code.
DWORD keep_lease(GuardProcess& guard) {
  EnterKey enter;
  bool resume_asked = false;
  std::uint64_t next_heartbeat = tick_ms() + kHeartbeatIntervalMs;
  for (;;) {
    show_lines(guard.take_lines());
    if (const auto code = guard.exit_code(kPollMs)) return *code;
    if (!resume_asked && (interrupted() || enter.pressed())) {
      resume_asked = true;
      write_out("asking the guard to resume the process\n");
      guard.send(std::string(1, kResumeByte));
    }
    if (!resume_asked && tick_ms() >= next_heartbeat) {
      next_heartbeat += kHeartbeatIntervalMs;
      guard.send(std::string(1, kHeartbeatByte));
    }
  }
}

// Without --journal the freeze is recorded in the user's freezes folder, so
// that mirrowctl recover can resume the target should the guard be killed.
// A record that cannot be written leaves the freeze without a journal.
std::u16string record_journal(const FreezeTarget& target) {
  std::string problem;
  if (const auto journal = keep_freeze_record(target, problem)) return *journal;
  write_err("mirrowctl: no journal for this freeze: " + problem + "\n");
  return {};
}

// A journal that ends frozen holds a freeze of this very target (its name,
// or the host's choice, is per target) whose guard is gone or still runs.
// The guard would refuse a new freeze on it; the recovery form resumes a
// stranded one first, and leaves a live guard's freeze alone.
void recover_first_if_stranded(const FreezeTarget& target, const std::u16string& journal) {
  if (journal.empty() || !journal_ends_frozen(journal)) return;
  write_out("the journal ends with an unfinished freeze of this process; running the recovery first\n");
  std::string problem;
  const auto result = run_recovery_form({target.pid, target.created}, target.path, journal, problem);
  write_out("recovery: " + (result ? outcome_text(*result) : "FAILED: " + problem) + "\n");
}

}  // namespace

int run_freeze(const Request& request) {
  std::string problem;
  const auto telvyn = load_telvyn(problem);
  if (!telvyn) return fail_with(kExitMissingLibrary, problem);
  std::uint64_t length = 0;
  const char* snapshot = telvyn->tl_snapshot(&length);
  if (snapshot == nullptr) return fail_with(kExitFailed, "Telvyn.dll returned no process snapshot");
  const TargetLookup lookup = find_freeze_target(std::string_view(snapshot, length), request.pid);
  if (!lookup.target) return fail_with(kExitFailed, lookup.problem);
  const FreezeTarget& target = *lookup.target;

  write_out("target: " + std::to_string(target.pid) + " " + utf8_from_utf16(target.path) + "\n");
  if (!target.verdict.empty())
    write_out("the snapshot expects a refusal: " + utf8_from_utf16(target.verdict) + "\n");
  const std::u16string journal = request.journal.empty() ? record_journal(target) : absolute_path(request.journal);
  recover_first_if_stranded(target, journal);
  auto guard = start_guard(guard_arguments(target, request.lease, journal), problem);
  if (!guard) return fail_with(kExitMissingLibrary, problem);
  write_out("lease " + std::to_string(request.lease) + " s; press Enter or Ctrl+C to resume early\n");

  const DWORD code = keep_lease(*guard);
  show_lines(guard->take_remaining_lines());
  if (request.journal.empty() && !journal.empty()) drop_record_without_journal(journal);
  write_out("result: " + describe_guard_exit(code) + " (exit code " + std::to_string(code) + ")\n");
  return code == 0 ? kExitOk : kExitFailed;
}

int run_self_test(const Request&) {
  std::string problem;
  auto guard = start_guard({u"--self-test"}, problem);
  if (!guard) return fail_with(kExitMissingLibrary, problem);
  write_out("running FreezeGuard.exe --self-test (it freezes only its own helper child)\n");
  std::optional<DWORD> code;
  while (!(code = guard->exit_code(kPollMs))) show_lines(guard->take_lines());
  show_lines(guard->take_remaining_lines());
  write_out("result: " + std::string(*code == 0 ? "passed" : "FAILED: " + describe_guard_exit(*code)) +
            " (exit code " + std::to_string(*code) + ")\n");
  return *code == 0 ? kExitOk : kExitFailed;
}

}  // namespace mirrow::host
