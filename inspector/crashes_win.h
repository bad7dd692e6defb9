#pragma once
// Crash and unexpected-shutdown events read through the event log's query
// interface.
#include <windows.h>
#include <winevt.h>

#include <string>

namespace mirrow::inspector {

// The event-log calls the report is built from; tests hand in scripted ones.
struct EventLogCalls {
  EVT_HANDLE(WINAPI* query)(EVT_HANDLE session, LPCWSTR path, LPCWSTR query, DWORD flags);
  BOOL(WINAPI* next)(EVT_HANDLE results, DWORD size, EVT_HANDLE* events, DWORD timeout, DWORD flags, PDWORD returned);
  EVT_HANDLE(WINAPI* create_render_context)(DWORD count, LPCWSTR* value_paths, DWORD flags);
  BOOL(WINAPI* render)(EVT_HANDLE context, EVT_HANDLE fragment, DWORD flags, DWORD size, PVOID buffer, PDWORD used,
                       PDWORD property_count);
  BOOL(WINAPI* close)(EVT_HANDLE object);
};

const EventLogCalls& windows_event_log_calls();

// The report array: for each channel its newest matching events (at most 20
// each), or one error object when the channel cannot be queried.
void write_crash_report(std::string& out, const EventLogCalls& calls);

}  // namespace mirrow::inspector
