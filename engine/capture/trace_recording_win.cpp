#include "engine/capture/trace_recording_win.h"

#include <cstring>

#include "engine/capture/session_owner_win.h"
#include "engine/capture/trace_session_win.h"

namespace mirrow {
namespace {

constexpr std::uint32_t error_name_too_long = 206;

EVENT_TRACE_PROPERTIES* properties_of(TraceRecording& recording) {
  return reinterpret_cast<EVENT_TRACE_PROPERTIES*>(recording.block.data());
}

void fill_recording_block(TraceRecording& recording, std::u16string_view file, const GUID& guid) {
  fill_session_block(recording.block.data(), recording_session_properties(), guid, recording_block_bytes);
  properties_of(recording)->LogFileNameOffset = recording_file_name_offset;
  std::memcpy(recording.block.data() + recording_file_name_offset, file.data(), 2 * file.size());
}

}  // namespace

std::uint32_t start_recording(const TraceCalls& calls, std::u16string_view file, bool track_missing_opens,
                              TraceRecording& recording, std::uint32_t& state_status) {
  if (file.size() > max_recording_file_units) return error_name_too_long;
  recording.calls = &calls;
  GUID guid{};
  if (const HRESULT made = calls.create_guid(&guid); FAILED(made)) return static_cast<std::uint32_t>(made);
  SessionGuid session_guid;
  std::memcpy(static_cast<void*>(&session_guid), &guid, sizeof guid);
  recording.name = session_name(capture_session_prefix, session_guid);
  fill_recording_block(recording, file, guid);
  recording.owner_mark = create_owner_mark(calls, recording.name);
  const ULONG started = calls.start_trace(&recording.session, wide(recording.name.c_str()), properties_of(recording));
  if (started != 0) {
    recording.session = 0;
    recording.owner_mark.reset();
    return started;
  }
  if (const std::uint32_t enabled = enable_kernel_file_events(calls, recording.session, track_missing_opens);
      enabled != 0) {
    SessionLosses ignored;
    stop_recording(recording, ignored);
    return enabled;
  }
  state_status = request_kernel_file_state(calls, recording.session);
  return 0;
}

std::uint32_t stop_recording(TraceRecording& recording, SessionLosses& losses) noexcept {
  if (recording.session == 0) return 0;
  EVENT_TRACE_PROPERTIES* props = properties_of(recording);
  const ULONG status = recording.calls->control_trace(recording.session, wide(recording.name.c_str()), props,
                                                      control_stop);
  if (status != 0) stop_session_by_name(*recording.calls, recording.name);
  losses = session_losses(props->EventsLost, props->LogBuffersLost, props->RealTimeBuffersLost);
  recording.session = 0;
  recording.owner_mark.reset();
  return status;
}

}  // namespace mirrow
