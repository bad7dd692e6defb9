// The calling process's side of the verdict, read afresh on every call: its
// own id, its session and the Windows directory.
#include <windows.h>

#include "classifier/verdict.h"
#include "common/unique_handle.h"

namespace mirrow {
namespace {

constexpr UINT kWindowsDirectoryCapacity = MAX_PATH;

// The shared system Windows directory. GetWindowsDirectoryW would give a
// program that is not marked terminal-server aware (the MinGW linker's
// default) a private directory in the user's profile on a multi-user server,
// and the real system images would then pass as ordinary programs.
// Empty when the directory cannot be read or does not fit; the Windows
// directory rule then matches nothing.
std::u16string windows_directory() {
  char16_t buffer[kWindowsDirectoryCapacity] = {};
  const UINT length = GetSystemWindowsDirectoryW(wide(buffer), kWindowsDirectoryCapacity);
  if (length == 0 || length >= kWindowsDirectoryCapacity) return {};
  return std::u16string(buffer, length);
}

}  // namespace

VerdictEnvironment current_verdict_environment() {
  VerdictEnvironment environment;
  environment.own_pid = GetCurrentProcessId();
  DWORD session = 0;
  if (ProcessIdToSessionId(environment.own_pid, &session)) environment.own_session = session;
  environment.windows_directory = windows_directory();
  return environment;
}

std::u16string protection_reason(const ProcessFacts& facts, const ProcessTable& table,
                                 std::uint32_t anchor_pid) {
  return protection_reason(facts, table, anchor_pid, current_verdict_environment());
}

}  // namespace mirrow
