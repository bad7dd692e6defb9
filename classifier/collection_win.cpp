// The real platform calls behind one collection pass: the toolhelp process
// snapshot, limited-right process queries, IsProcessCritical looked up at run
// time (older systems and Wine lack it) and the top-level window enumeration.
#include <windows.h>
#include <tlhelp32.h>

#include <cwchar>

#include "common/filetime_win.h"
#include "classifier/collection_calls.h"
#include "common/unique_handle.h"

namespace mirrow {
namespace {

// QueryFullProcessImageNameW accepts up to the longest Win32 path.
constexpr DWORD kImagePathCapacity = 32768;

void* take_snapshot() {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  return snapshot == INVALID_HANDLE_VALUE ? nullptr : snapshot;
}

void copy_entry(const PROCESSENTRY32W& record, SnapshotEntry& entry) {
  entry.pid = record.th32ProcessID;
  entry.parent_pid = record.th32ParentProcessID;
  // The name field is fixed-size; never read past it even if unterminated.
  entry.exe_name.assign(utf16(record.szExeFile), wcsnlen(record.szExeFile, MAX_PATH));
}

using SnapshotStep = BOOL(WINAPI*)(HANDLE, LPPROCESSENTRY32W);

bool read_entry(SnapshotStep step, void* snapshot, SnapshotEntry& entry) {
  PROCESSENTRY32W record{};
  record.dwSize = sizeof(record);
  if (!step(snapshot, &record)) return false;
  copy_entry(record, entry);
  return true;
}

bool read_first_entry(void* snapshot, SnapshotEntry& entry) {
  return read_entry(&Process32FirstW, snapshot, entry);
}

bool read_next_entry(void* snapshot, SnapshotEntry& entry) {
  return read_entry(&Process32NextW, snapshot, entry);
}

void close_handle(void* handle) { CloseHandle(handle); }

bool session_of(std::uint32_t pid, std::uint32_t& session) {
  DWORD value = 0;
  if (!ProcessIdToSessionId(pid, &value)) return false;
  session = value;
  return true;
}

void* open_for_query(std::uint32_t pid) {
  return OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
}

bool creation_time_of(void* process, std::uint64_t& ticks) {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return false;
  ticks = filetime_value(created);
  return true;
}

bool image_path_of(void* process, std::u16string& path) {
  std::u16string buffer(kImagePathCapacity, u'\0');
  DWORD length = kImagePathCapacity;
  if (!QueryFullProcessImageNameW(process, 0, wide(buffer.data()), &length)) return false;
  buffer.resize(length < kImagePathCapacity ? length : kImagePathCapacity);
  path = std::move(buffer);
  return true;
}

using IsProcessCriticalFn = BOOL(WINAPI*)(HANDLE, PBOOL);

// Looked up on every call, so the answer follows whatever kernel32 offers.
IsProcessCriticalFn find_is_process_critical() {
  const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  if (kernel32 == nullptr) return nullptr;
  const FARPROC found = GetProcAddress(kernel32, "IsProcessCritical");
  return reinterpret_cast<IsProcessCriticalFn>(reinterpret_cast<void (*)()>(found));
}

bool criticality_of(void* process, bool& critical) {
  const IsProcessCriticalFn is_process_critical = find_is_process_critical();
  if (is_process_critical == nullptr) return false;
  BOOL flag = TRUE;
  if (!is_process_critical(process, &flag)) return false;
  critical = flag != FALSE;
  return true;
}

struct WindowVisit {
  void (*visit)(void* context, std::uint32_t pid);
  void* context;
};

BOOL CALLBACK visit_window(HWND window, LPARAM parameter) {
  if (IsWindowVisible(window)) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    const auto& visit = *reinterpret_cast<const WindowVisit*>(parameter);
    visit.visit(visit.context, pid);
  }
  return TRUE;  // every window is looked at
}

void visit_visible_windows(void (*visit)(void* context, std::uint32_t pid), void* context) {
  WindowVisit state{visit, context};
  EnumWindows(&visit_window, reinterpret_cast<LPARAM>(&state));
}

bool same_user_as_caller(void* process) { return is_same_user(process); }

}  // namespace

const CollectionCalls& windows_collection_calls() {
  static const CollectionCalls calls{
      .take_snapshot = &take_snapshot,
      .read_first_entry = &read_first_entry,
      .read_next_entry = &read_next_entry,
      .close_snapshot = &close_handle,
      .session_of = &session_of,
      .open_for_query = &open_for_query,
      .creation_time_of = &creation_time_of,
      .image_path_of = &image_path_of,
      .criticality_of = &criticality_of,
      .same_user_as_caller = &same_user_as_caller,
      .close_process = &close_handle,
      .visit_visible_windows = &visit_visible_windows,
  };
  return calls;
}

ProcessTable collect_process_table() { return collect_process_table(windows_collection_calls()); }

void mark_visible_windows(ProcessTable& table) {
  mark_visible_windows(table, windows_collection_calls());
}

}  // namespace mirrow
