#include "guard/guard_win.h"

namespace mirrow::guard {
namespace {

// How long the handler keeps the process alive for the resume. Windows ends a
// process a few seconds after a close, logoff or shutdown event regardless.
constexpr DWORD kResumeGraceMs = 2000;

// The handler runs on a thread of its own. The events close only at the
// exit, after the main thread has signalled `resumed`, so a handler still
// waiting then has already been released (a wait on a closed handle fails at
// once, which releases it too).
struct ConsoleEvents {
  UniqueHandle ending{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  // Reset from just before the suspension until the target runs again and
  // its final line is written; signalled otherwise.
  UniqueHandle resumed{CreateEventW(nullptr, TRUE, TRUE, nullptr)};
};

ConsoleEvents& console_events() {
  static ConsoleEvents events;
  return events;
}

BOOL WINAPI on_console_event(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;  // the lease loop decides the ending
  SetEvent(console_events().ending.get());
  WaitForSingleObject(console_events().resumed.get(), kResumeGraceMs);
  return TRUE;
}

}  // namespace

void install_console_ending_handler() {
  console_events();
  SetConsoleCtrlHandler(&on_console_event, TRUE);
}

bool console_ending_requested() { return WaitForSingleObject(console_events().ending.get(), 0) == WAIT_OBJECT_0; }

bool console_hold_begins() {
  ResetEvent(console_events().resumed.get());
  // An ending requested before the reset found nothing suspended and may
  // already have let the process go.
  if (!console_ending_requested()) return true;
  SetEvent(console_events().resumed.get());
  return false;
}

void console_hold_ends() { SetEvent(console_events().resumed.get()); }

}  // namespace mirrow::guard
