#pragma once
// What a check needs to know about the machine it runs on: whether it is
// Wine, whether this process is elevated, and which trace sessions exist.
// Shared by `mirrowctl check` and the live Windows tests.
#include <cstdint>
#include <string>
#include <vector>

namespace mirrow::host {

// True when ntdll exports wine_get_version.
bool running_under_wine();

// True when this process's token is elevated.
bool process_is_elevated();

struct TraceSessionList {
  std::uint32_t status = 0;  // 0 when the system answered
  std::vector<std::u16string> names;
};

// Every trace session on the machine that this process may see, by name.
TraceSessionList list_trace_sessions();

// True when the engine session's ownership mark is gone from both
// namespaces: the process that started it has ended.
bool trace_session_orphaned(const std::u16string& session_name);

}  // namespace mirrow::host
