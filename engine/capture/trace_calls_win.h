#pragma once
// The tracing calls the trace sessions make, as a table so that a scripted
// substitute can stand in where the platform's tracing is unavailable. The
// engine uses system_trace_calls() unless its owner hands it another table.
#include <windows.h>
#include <objbase.h>
#include <evntrace.h>
#include <evntcons.h>

namespace mirrow {

struct TraceCalls {
  decltype(&::StartTraceW) start_trace;
  decltype(&::EnableTraceEx2) enable_trace;
  decltype(&::OpenTraceW) open_trace;
  decltype(&::ProcessTrace) process_trace;
  decltype(&::ControlTraceW) control_trace;
  decltype(&::CloseTrace) close_trace;
  decltype(&::CoCreateGuid) create_guid;
  // The ownership marks and the sweep of orphaned sessions. They default to
  // the system calls, so a stand-in that scripts only the sessions keeps
  // real marks and sees the system's own session list.
  decltype(&::QueryAllTracesW) query_all_traces = &::QueryAllTracesW;
  decltype(&::CreateMutexW) create_mutex = &::CreateMutexW;
  decltype(&::OpenMutexW) open_mutex = &::OpenMutexW;
  // The sweep's clock, for its time budget.
  decltype(&::GetTickCount64) tick_count = &::GetTickCount64;
};

// advapi32, ole32 and kernel32.
const TraceCalls& system_trace_calls() noexcept;

}  // namespace mirrow
