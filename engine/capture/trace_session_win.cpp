#include "engine/capture/trace_session_win.h"

#include <cstring>
#include <system_error>
#include <vector>

#include "common/clock.h"
#include "common/unique_handle.h"
#include "engine/capture/decoder.h"
#include "engine/capture/intake.h"

namespace mirrow {
namespace {

constexpr std::uint32_t names_session_wait_ms = 100;

static_assert(sizeof(EVENT_TRACE_PROPERTIES) == logger_name_offset, "the session name follows the fixed block");
static_assert(sizeof(GUID) == sizeof(SessionGuid));

GUID to_guid(const SessionGuid& g) {
  GUID guid;
  std::memcpy(&guid, &g, sizeof guid);
  return guid;
}

SessionGuid from_guid(const GUID& guid) {
  SessionGuid g;
  std::memcpy(static_cast<void*>(&g), &guid, sizeof g);
  return g;
}

struct PropertyBlock {
  alignas(8) std::array<std::uint8_t, property_block_bytes> bytes{};
  EVENT_TRACE_PROPERTIES* get() { return reinterpret_cast<EVENT_TRACE_PROPERTIES*>(bytes.data()); }
};

// Zero-filled block with only its size and the name offset set: what stop
// and query calls need.
void prepare_block(std::uint8_t* bytes, std::uint32_t block_bytes = property_block_bytes) {
  std::memset(bytes, 0, block_bytes);
  auto* props = reinterpret_cast<EVENT_TRACE_PROPERTIES*>(bytes);
  props->Wnode.BufferSize = block_bytes;
  props->LoggerNameOffset = logger_name_offset;
}

}  // namespace

void fill_session_block(std::uint8_t* bytes, const SessionProperties& values, const GUID& guid,
                        std::uint32_t block_bytes) {
  prepare_block(bytes, block_bytes);
  auto* props = reinterpret_cast<EVENT_TRACE_PROPERTIES*>(bytes);
  props->Wnode.Flags = values.wnode_flags;
  props->Wnode.Guid = guid;
  props->Wnode.ClientContext = values.client_context;
  props->BufferSize = values.buffer_size_kb;
  props->MinimumBuffers = values.minimum_buffers;
  props->MaximumBuffers = values.maximum_buffers;
  props->FlushTimer = values.flush_timer_seconds;
  props->LogFileMode = values.log_file_mode;
  props->EnableFlags = values.enable_flags;
}

namespace {

SessionLosses losses_of(const std::uint8_t* bytes) {
  const auto* props = reinterpret_cast<const EVENT_TRACE_PROPERTIES*>(bytes);
  return session_losses(props->EventsLost, props->LogBuffersLost, props->RealTimeBuffersLost);
}

// A fresh session GUID, or the failing call's status.
std::uint32_t new_session_guid(const TraceCalls& calls, GUID& guid) {
  guid = GUID{};
  const HRESULT result = calls.create_guid(&guid);
  return SUCCEEDED(result) ? 0 : static_cast<std::uint32_t>(result);
}

// Opens a real-time consumer that hands every record to the decoding; empty
// when the open fails, with the reason left in GetLastError().
TraceConsumer open_consumer(const TraceCalls& calls, const Decoding& decoding, std::u16string& name) {
  EVENT_TRACE_LOGFILEW logfile{};
  logfile.LoggerName = wide(name.data());
  logfile.ProcessTraceMode = consumer_mode;
  logfile.EventRecordCallback = &receive_event_record;
  logfile.Context = const_cast<Decoding*>(&decoding);
  return TraceConsumer(calls.open_trace(&logfile), TraceConsumerTraits{&calls});
}

std::uint32_t consumer_open_error() { return open_failure_status(GetLastError()); }

void run_consumer(const TraceCalls& calls, TRACEHANDLE consumer) {
  calls.process_trace(&consumer, 1, nullptr, nullptr);
}

// Stops a session and returns the status of that stop. A real-time session
// whose stop fails keeps running in the kernel after this process has gone,
// and the kernel has room for only a few dozen sessions, so a failed stop is
// followed by one more stop by name alone, with a block of its own so that
// the caller's block keeps what the first stop left in it.
ULONG stop_session(const TraceCalls& calls, TRACEHANDLE session, const std::u16string& name,
                   EVENT_TRACE_PROPERTIES* block) noexcept {
  const ULONG status = calls.control_trace(session, wide(name.c_str()), block, control_stop);
  if (status != 0) stop_session_by_name(calls, name);
  return status;
}

// The ownership mark of a session about to start. It is made before the
// session exists, so that no sweep can ever find the session without it; a
// mark that cannot be made leaves the session exposed to the next sweep,
// which is counted but does not keep the session from running.
UniqueHandle mark_session_owned(const CaptureSession& capture, Counters& counters, std::u16string_view name) {
  UniqueHandle mark = create_owner_mark(*capture.calls, name);
  if (!mark) counters.add(Counter::errors);
  return mark;
}

// The sweep of sessions whose owner has gone, before this start adds its own.
void sweep_orphans(CaptureSession& capture, Counters& counters) {
  capture.last_sweep = sweep_orphan_sessions(*capture.calls);
  if (capture.last_sweep.failures != 0) counters.add(Counter::errors, capture.last_sweep.failures);
}

void join_unless_self(std::thread& thread) noexcept {
  if (!thread.joinable()) return;
  try {
    if (thread.get_id() == std::this_thread::get_id()) thread.detach();
    else thread.join();
  } catch (...) {
    // join only fails for a thread that is not joinable or is this thread.
  }
}

// The names session once it has started: open its consumer and run it on a
// thread, wait the session's time (or until a stop), stop the session, record
// its losses, close the consumer and join the thread. A consumer that cannot
// be opened leaves the session to its owner, which stops it.
void consume_names_session(const CaptureSession& capture, const CaptureLinks& links, TraceSession& session,
                           std::u16string& name, PropertyBlock& block) {
  const TraceCalls& calls = *capture.calls;
  StartupFigures& figures = links.startup;
  TraceConsumer consumer = open_consumer(calls, links.decoding, name);
  if (!consumer) {
    figures.names_session_status = consumer_open_error();
    return;
  }
  std::thread names_thread;
  try {
    names_thread = std::thread([&calls, handle = consumer.get()] { run_consumer(calls, handle); });
  } catch (...) {
    // The session stops before its consumer closes, as on every other path.
    session.reset();
    consumer.reset();
    figures.names_session_status = 8;
    return;
  }
  WaitForSingleObject(links.stop_event, names_session_wait_ms);

  // Stopped here rather than by its owner: the stop's status and the losses
  // it leaves in the block are what the engine reports.
  const ULONG stop_status = stop_session(calls, session.release(), name, block.get());
  figures.names_session_status = stop_status;
  const SessionLosses losses = losses_of(block.bytes.data());
  figures.startup_name_losses = losses.events + losses.buffers;
  // A stopped session ends ProcessTrace by itself, and its consumer closes
  // once the thread is done with it; after a failed stop, closing the
  // consumer is what makes ProcessTrace return, so it closes before the join.
  if (stop_status != 0) consumer.reset();
  join_unless_self(names_thread);
  consumer.reset();
  figures.system_names_enabled = (stop_status == 0);
}

// The short system-logger session that names files the kernel already
// knows. Its outcome is only recorded.
void run_names_session(const CaptureSession& capture, const CaptureLinks& links) {
  const TraceCalls& calls = *capture.calls;
  StartupFigures& figures = links.startup;
  const std::uint64_t started_at = tick_ms();
  // A later start must not show the success of an earlier one.
  figures.system_names_enabled = false;

  GUID guid;
  if (const std::uint32_t status = new_session_guid(calls, guid); status != 0) {
    figures.names_session_status = status;
    return;
  }
  std::u16string name = session_name(names_session_prefix, from_guid(guid));
  PropertyBlock block;
  fill_session_block(block.bytes.data(), names_session_properties(), guid);

  // Released when this function returns, after the session has been stopped.
  const UniqueHandle owner_mark = mark_session_owned(capture, links.counters, name);
  TRACEHANDLE started = 0;
  figures.names_session_status = calls.start_trace(&started, wide(name.c_str()), block.get());
  if (figures.names_session_status != 0) return;
  {
    // Stopped by the end of this scope on every path, so that the time
    // recorded below includes the stop.
    TraceSession session(started, TraceSessionTraits{&calls, &name, block.get()});
    consume_names_session(capture, links, session, name, block);
  }
  figures.startup_name_seconds = static_cast<double>(tick_ms() - started_at) / 1000.0;
}

EVENT_TRACE_PROPERTIES* capture_block(CaptureSession& capture) {
  return reinterpret_cast<EVENT_TRACE_PROPERTIES*>(capture.properties.data());
}

// Stops the capture session after a failed start step.
void abandon_capture_session(CaptureSession& capture, std::mutex& live_lock) {
  std::lock_guard live(live_lock);
  capture.session.reset();
  capture.session_handle.store(0);
  capture.owner_mark.reset();
}

std::uint32_t enable_kernel_file_provider(const CaptureSession& capture, bool track_missing_opens) {
  return enable_kernel_file_events(*capture.calls, capture.session_handle.load(), track_missing_opens);
}

std::uint32_t request_capture_state(const CaptureSession& capture) {
  return request_kernel_file_state(*capture.calls, capture.session_handle.load());
}

// The consumer is the engine's from here on: if the thread cannot be made,
// the stop that follows the failed start closes it.
void start_capture_thread(CaptureSession& capture, std::mutex& live_lock, TraceConsumer consumer) {
  const TRACEHANDLE handle = consumer.get();
  capture.processing_handle = std::move(consumer);
  capture.capture_live.store(true);
  try {
    const TraceCalls& calls = *capture.calls;
    std::lock_guard live(live_lock);
    capture.thread = std::thread([&capture, &calls, handle] {
      run_consumer(calls, handle);
      capture.capture_live.store(false);
    });
  } catch (...) {
    // No thread will ever leave the event loop to clear it.
    capture.capture_live.store(false);
    throw;
  }
}

EventView view_of(const EVENT_RECORD& record) {
  const EVENT_HEADER& header = record.EventHeader;
  ProviderGuid provider;
  static_assert(sizeof provider == sizeof header.ProviderId);
  std::memcpy(&provider, &header.ProviderId, sizeof provider);
  EventView view;
  view.provider = provider_of(provider);
  view.event_id = header.EventDescriptor.Id;
  view.version = header.EventDescriptor.Version;
  view.opcode = header.EventDescriptor.Opcode;
  view.header_32bit = (header.Flags & event_header_flag_32bit) != 0;
  view.process_id = header.ProcessId;
  view.timestamp = header.TimeStamp.QuadPart;
  view.user_data = static_cast<const std::uint8_t*>(record.UserData);
  view.user_data_length = record.UserDataLength;
  return view;
}

}  // namespace

std::uint32_t enable_kernel_file_events(const TraceCalls& calls, TRACEHANDLE session, bool track_missing_opens) {
  const std::vector<std::uint8_t> filter_body = event_id_filter_body(track_missing_opens);
  EVENT_FILTER_DESCRIPTOR filter{};
  filter.Ptr = reinterpret_cast<ULONGLONG>(filter_body.data());
  filter.Size = static_cast<ULONG>(filter_body.size());
  filter.Type = event_id_filter_type;

  ENABLE_TRACE_PARAMETERS parameters{};
  parameters.Version = ENABLE_TRACE_PARAMETERS_VERSION_2;
  parameters.EnableFilterDesc = &filter;
  parameters.FilterDescCount = 1;

  const GUID provider = to_guid(kernel_file_provider);
  return calls.enable_trace(session, &provider, EVENT_CONTROL_CODE_ENABLE_PROVIDER, provider_level_information,
                            capture_match_any_keywords, 0, 0, &parameters);
}

std::uint32_t request_kernel_file_state(const TraceCalls& calls, TRACEHANDLE session) {
  const GUID provider = to_guid(kernel_file_provider);
  return calls.enable_trace(session, &provider, EVENT_CONTROL_CODE_CAPTURE_STATE, provider_level_information,
                            capture_state_keywords, 0, capture_state_timeout_ms, nullptr);
}

void WINAPI receive_event_record(PEVENT_RECORD record) {
  if (record == nullptr || record->UserContext == nullptr) return;
  const Decoding& decoding = *static_cast<const Decoding*>(record->UserContext);
  route_event(decoding, view_of(*record));
}

std::uint32_t start_trace_sessions(CaptureSession& capture, const CaptureLinks& links) {
  sweep_orphans(capture, links.counters);
  run_names_session(capture, links);

  const TraceCalls& calls = *capture.calls;
  GUID guid;
  if (const std::uint32_t status = new_session_guid(calls, guid); status != 0) return status;
  {
    // The reports read the name (with the handle) under live_lock.
    std::lock_guard live(links.live_lock);
    capture.session_name = session_name(capture_session_prefix, from_guid(guid));
  }
  fill_session_block(capture.properties.data(), capture_session_properties(), guid);

  capture.owner_mark = mark_session_owned(capture, links.counters, capture.session_name);
  TRACEHANDLE started = 0;
  const ULONG start_status = calls.start_trace(&started, wide(capture.session_name.c_str()), capture_block(capture));
  if (start_status != 0) {
    capture.owner_mark.reset();
    return start_status;
  }
  {
    std::lock_guard live(links.live_lock);
    capture.session = TraceSession(started, TraceSessionTraits{&calls, &capture.session_name, capture_block(capture)});
    capture.session_handle.store(started);
  }

  if (const std::uint32_t status = enable_kernel_file_provider(capture, links.track_missing_opens); status != 0) {
    abandon_capture_session(capture, links.live_lock);
    return status;
  }
  TraceConsumer consumer = open_consumer(calls, links.decoding, capture.session_name);
  if (!consumer) {
    const std::uint32_t status = consumer_open_error();
    abandon_capture_session(capture, links.live_lock);
    return status;
  }
  start_capture_thread(capture, links.live_lock, std::move(consumer));
  links.startup.capture_state_status = request_capture_state(capture);
  return 0;
}

void stop_capture(CaptureSession& capture, const CaptureLinks& links) noexcept {
  std::thread capture_thread;
  {
    // One system call under live_lock: the reports see the session running
    // with its live losses, or stopped with the losses read here.
    std::lock_guard live(links.live_lock);
    if (capture.session) {
      // Stopped here rather than by its owner: only a successful stop's
      // losses are kept.
      if (stop_session(*capture.calls, capture.session.release(), capture.session_name, capture_block(capture)) == 0) {
        const SessionLosses losses = losses_of(capture.properties.data());
        links.startup.events_lost = losses.events;
        links.startup.buffers_lost = losses.buffers;
      }
      capture.session_handle.store(0);
    }
    // The thread leaves the engine before it is waited for, so the reports
    // never read a thread object being joined.
    capture_thread = std::move(capture.thread);
  }
  // Whether or not the stop succeeded, this process no longer looks after
  // the session: a session left running is the next sweep's to stop.
  capture.owner_mark.reset();
  // Closing the consumer is what ends ProcessTrace when the stop failed.
  capture.processing_handle.reset();
  join_unless_self(capture_thread);
  // The thread cleared it on its way out unless it never ran.
  capture.capture_live.store(false);
}

void TraceSessionTraits::close(pointer h) const noexcept { stop_session(*calls, h, *name, block); }

ULONG stop_session_by_name(const TraceCalls& calls, const std::u16string& name) noexcept {
  PropertyBlock block;
  prepare_block(block.bytes.data());
  return calls.control_trace(0, wide(name.c_str()), block.get(), control_stop);
}

std::optional<SessionLosses> query_capture_losses(CaptureSession& capture, const StartupFigures& startup) noexcept {
  const std::uint64_t session = capture.session_handle.load();
  if (session == 0) return SessionLosses{startup.events_lost, startup.buffers_lost};
  PropertyBlock block;
  prepare_block(block.bytes.data());
  if (capture.calls->control_trace(session, wide(capture.session_name.c_str()), block.get(), control_query) != 0)
    return std::nullopt;
  return losses_of(block.bytes.data());
}

}  // namespace mirrow
