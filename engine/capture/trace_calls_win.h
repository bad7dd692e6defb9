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
};

// advapi32 and ole32.
const TraceCalls& system_trace_calls() noexcept;

}  // namespace mirrow
