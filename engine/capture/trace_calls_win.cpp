#include "engine/capture/trace_calls_win.h"

namespace mirrow {

const TraceCalls& system_trace_calls() noexcept {
  // The addresses of imported functions are known only once the loader
  // has filled the import table, so the table is made on first use.
  static const TraceCalls calls{&::StartTraceW,   &::EnableTraceEx2, &::OpenTraceW,   &::ProcessTrace,
                                &::ControlTraceW, &::CloseTrace,     &::CoCreateGuid, &::QueryAllTracesW,
                                &::CreateMutexW,  &::OpenMutexW,     &::GetTickCount64};
  return calls;
}

}  // namespace mirrow
