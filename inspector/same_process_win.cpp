#include "common/filetime_win.h"
#include "inspector/same_process_win.h"

namespace mirrow::inspector {

UniqueHandle open_same_process(std::uint32_t pid, std::uint64_t creation_time) {
  if (creation_time == 0) return {};
  UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return {};
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(process.get(), &created, &exited, &kernel, &user)) return {};
  if (filetime_value(created) != creation_time) return {};
  return process;
}

bool still_same_process(std::uint32_t pid, std::uint64_t creation_time) {
  return open_same_process(pid, creation_time).valid();
}

}  // namespace mirrow::inspector
