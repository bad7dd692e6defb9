#include "host/system_facts_win.h"

#include <windows.h>
#include <evntrace.h>

#include <array>
#include <cstddef>

#include "common/trace_session_owner.h"
#include "common/unique_handle.h"
#include "common/utf16.h"

namespace mirrow::host {
namespace {

// The most sessions one query can list.
constexpr ULONG kSessionSlots = 64;
constexpr ULONG kNameUnits = 1024;

struct SessionSlot {
  EVENT_TRACE_PROPERTIES properties;
  wchar_t logger_name[kNameUnits];
  wchar_t log_file_name[kNameUnits];
};

}  // namespace

bool running_under_wine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool process_is_elevated() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
  const UniqueHandle token(raw);
  TOKEN_ELEVATION elevation{};
  DWORD length = 0;
  return GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &length) &&
         elevation.TokenIsElevated != 0;
}

TraceSessionList list_trace_sessions() {
  TraceSessionList list;
  std::vector<SessionSlot> slots(kSessionSlots);
  std::array<EVENT_TRACE_PROPERTIES*, kSessionSlots> pointers{};
  for (ULONG i = 0; i < kSessionSlots; ++i) {
    slots[i] = SessionSlot{};
    slots[i].properties.Wnode.BufferSize = sizeof(SessionSlot);
    slots[i].properties.LoggerNameOffset = offsetof(SessionSlot, logger_name);
    slots[i].properties.LogFileNameOffset = offsetof(SessionSlot, log_file_name);
    pointers[i] = &slots[i].properties;
  }
  ULONG count = 0;
  const ULONG status = QueryAllTracesW(pointers.data(), kSessionSlots, &count);
  // More sessions than slots: the first ones are still listed.
  if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) {
    list.status = status;
    return list;
  }
  for (ULONG i = 0; i < count && i < kSessionSlots; ++i) {
    slots[i].logger_name[kNameUnits - 1] = L'\0';
    list.names.push_back(utf16(slots[i].logger_name));
  }
  return list;
}

namespace {

MarkLookup look_up_mark(const std::u16string& name) {
  const UniqueHandle mark(OpenMutexW(SYNCHRONIZE, FALSE, wide(name.c_str())));
  return classify_mark_open(static_cast<bool>(mark), mark ? 0 : GetLastError());
}

}  // namespace

bool trace_session_orphaned(const std::u16string& session_name) {
  const OwnerMarkNames names = owner_mark_names(session_name);
  const MarkLookup global = look_up_mark(names.global);
  return global == MarkLookup::absent && session_is_orphaned(global, look_up_mark(names.local));
}

}  // namespace mirrow::host
