#include "engine/capture/trace_calls_win.h"

namespace mirrow {

const TraceCalls& system_trace_calls() noexcept {
  static constexpr TraceCalls calls{&::StartTraceW,     &::EnableTraceEx2, &::OpenTraceW,     &::ProcessTrace,
                                    &::ControlTraceW,   &::CloseTrace,     &::CoCreateGuid,   &::QueryAllTracesW,
                                    &::CreateMutexW,    &::OpenMutexW,     &::GetTickCount64};
  return calls;
}

}  // namespace mirrow
