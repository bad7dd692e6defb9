#include "guard/guard_win.h"

namespace mirrow::guard {
namespace {

constexpr DWORD kTargetRights = SYNCHRONIZE | PROCESS_SUSPEND_RESUME | PROCESS_QUERY_LIMITED_INFORMATION;

std::uint64_t ticks_of(const FILETIME& time) { return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime; }

bool created_at(HANDLE process, std::uint64_t creation_ticks) {
  FILETIME created{}, exited{}, kernel{}, user{};
  return GetProcessTimes(process, &created, &exited, &kernel, &user) && ticks_of(created) == creation_ticks;
}

}  // namespace

// From here on the handle, not the id, names the target.
UniqueHandle pin_target(std::uint32_t target_pid, std::uint64_t creation_ticks) {
  UniqueHandle target(OpenProcess(kTargetRights, FALSE, target_pid));
  if (!target || !created_at(target.get(), creation_ticks)) return UniqueHandle();
  return target;
}

bool pin_processes(std::uint32_t target_pid, std::uint32_t owner_pid, std::uint64_t creation_ticks,
                   PinnedProcesses& pinned) {
  PinnedProcesses opened{pin_target(target_pid, creation_ticks), UniqueHandle(OpenProcess(SYNCHRONIZE, FALSE, owner_pid))};
  if (!opened.target || !opened.owner) return false;
  pinned = std::move(opened);
  return true;
}

}  // namespace mirrow::guard
