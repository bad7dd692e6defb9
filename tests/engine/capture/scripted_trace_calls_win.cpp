#include "tests/engine/capture/scripted_trace_calls_win.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "common/trace_session_owner.h"
#include "common/unique_handle.h"
#include "common/utf16.h"
#include "support/event_record_win.h"

namespace mirrow::testing {
namespace {

std::u16string text_of(const wchar_t* s) { return s ? std::u16string(reinterpret_cast<const char16_t*>(s)) : u""; }

const char* session_word(TRACEHANDLE h) {
  return h == TraceScript::names_session || h == TraceScript::names_consumer ? "names" : "capture";
}

EVENT_RECORD record_of(const ScriptedEvent& event, void* context) {
  return event_record({event.provider, event.id, event.version, event.opcode, event.header_32bit, event.process_id,
                       event.timestamp, event.data.data(), event.data.size(), context});
}

}  // namespace

struct ScriptedCalls {
  static TraceScript& s() { return trace_script(); }

  static ULONG WINAPI start(PTRACEHANDLE handle, LPCWSTR name, PEVENT_TRACE_PROPERTIES properties) {
    s().pass_gate(s().is_names(name) ? "start names" : "start capture");
    std::lock_guard<std::mutex> guard(s().lock_);
    const bool names = s().is_names(name);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(properties);
    s().starts_.push_back({text_of(name), std::vector<std::uint8_t>(bytes, bytes + properties->Wnode.BufferSize),
                           any_mark_of(text_of(name))});
    s().note(names ? "start names" : "start capture");
    const SessionScript& script = names ? s().names : s().capture;
    if (script.start_status != 0) return script.start_status;
    *handle = names ? TraceScript::names_session : TraceScript::capture_session;
    s().started_.insert(*handle);
    return 0;
  }

  static ULONG WINAPI enable(TRACEHANDLE session, LPCGUID provider, ULONG code, UCHAR level, ULONGLONG any,
                             ULONGLONG all, ULONG timeout, PENABLE_TRACE_PARAMETERS parameters) {
    std::lock_guard<std::mutex> guard(s().lock_);
    EnableCall call{session, *provider, code, level, any, all, timeout};
    if (parameters != nullptr) {
      call.has_parameters = true;
      call.parameters_version = parameters->Version;
      call.enable_property = parameters->EnableProperty;
      call.control_flags = parameters->ControlFlags;
      call.source_id = parameters->SourceId;
      call.filter_count = parameters->FilterDescCount;
      if (parameters->EnableFilterDesc != nullptr) {
        const EVENT_FILTER_DESCRIPTOR& filter = *parameters->EnableFilterDesc;
        call.filter_type = filter.Type;
        call.filter_size = filter.Size;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(filter.Ptr);
        call.filter.assign(bytes, bytes + filter.Size);
      }
    }
    s().enables_.push_back(call);
    const bool capture_state = code == EVENT_CONTROL_CODE_CAPTURE_STATE;
    s().note(capture_state ? "capture state" : "enable");
    return capture_state ? s().capture_state_status : s().enable_status;
  }

  static TRACEHANDLE WINAPI open(PEVENT_TRACE_LOGFILEW logfile) {
    std::lock_guard<std::mutex> guard(s().lock_);
    const bool names = s().is_names(logfile->LoggerName);
    s().opens_.push_back({text_of(logfile->LoggerName), logfile->ProcessTraceMode, logfile->EventRecordCallback,
                          logfile->Context});
    s().note(names ? "open names" : "open capture");
    const SessionScript& script = names ? s().names : s().capture;
    if (script.open_error != 0) {
      SetLastError(script.open_error);
      return INVALID_PROCESSTRACE_HANDLE;
    }
    const TRACEHANDLE consumer = names ? TraceScript::names_consumer : TraceScript::capture_consumer;
    s().opened_.insert(consumer);
    return consumer;
  }

  static ULONG WINAPI process(PTRACEHANDLE handles, ULONG count, LPFILETIME, LPFILETIME) {
    if (count != 1) return ERROR_INVALID_PARAMETER;
    const TRACEHANDLE consumer = handles[0];
    const TRACEHANDLE session = consumer == TraceScript::names_consumer ? TraceScript::names_session
                                                                        : TraceScript::capture_session;
    OpenCall open_call{};
    std::vector<ScriptedEvent> events;
    {
      std::lock_guard<std::mutex> guard(s().lock_);
      s().processed_.push_back(session_word(consumer));
      s().delivery_threads_.push_back(std::this_thread::get_id());
      for (const OpenCall& call : s().opens_)
        if (s().is_names(reinterpret_cast<const wchar_t*>(call.name.c_str())) == (session == TraceScript::names_session))
          open_call = call;
      events = s().script_of(session).events;
    }
    for (const ScriptedEvent& event : events) {
      EVENT_RECORD record = record_of(event, open_call.context);
      open_call.callback(&record);
    }
    std::unique_lock<std::mutex> guard(s().lock_);
    s().delivered_.insert(consumer);
    s().changed_.notify_all();
    s().changed_.wait(guard, [&] { return s().stopped_.count(session) != 0 || s().closed_.count(consumer) != 0; });
    return 0;
  }

  static ULONG WINAPI control(TRACEHANDLE session, LPCWSTR name, PEVENT_TRACE_PROPERTIES properties, ULONG code) {
    if (code != EVENT_TRACE_CONTROL_QUERY && session != 0) s().pass_gate(std::string("stop ") + session_word(session));
    std::lock_guard<std::mutex> guard(s().lock_);
    s().controls_.push_back({session, text_of(name), code});
    if (code == EVENT_TRACE_CONTROL_QUERY) {
      s().note("query");
      if (s().query_status != 0) return s().query_status;
      properties->EventsLost = s().query_events_lost;
      properties->LogBuffersLost = s().query_log_buffers_lost;
      properties->RealTimeBuffersLost = s().query_real_time_buffers_lost;
      return 0;
    }
    // A stop by name alone names its session only through the name.
    const bool by_name = session == 0;
    if (by_name) {
      const auto listed = std::find(s().running.begin(), s().running.end(), text_of(name));
      if (listed != s().running.end()) return stop_listed(listed);
    }
    if (by_name) session = s().is_names(name) ? TraceScript::names_session : TraceScript::capture_session;
    s().note(std::string("stop ") + session_word(session) + (by_name ? " by name" : ""));
    const SessionScript& script = s().script_of(session);
    const ULONG status = by_name ? script.stop_by_name_status : script.stop_status;
    if (status != 0) return status;
    properties->EventsLost = script.events_lost;
    properties->LogBuffersLost = script.log_buffers_lost;
    properties->RealTimeBuffersLost = script.real_time_buffers_lost;
    s().stopped_.insert(session);
    s().changed_.notify_all();
    return 0;
  }

  static ULONG WINAPI close(TRACEHANDLE consumer) {
    s().pass_gate(std::string("close ") + session_word(consumer));
    std::lock_guard<std::mutex> guard(s().lock_);
    s().note(std::string("close ") + session_word(consumer));
    s().closed_.insert(consumer);
    s().changed_.notify_all();
    return 0;
  }

  // Caller holds the lock.
  static ULONG stop_listed(std::vector<std::u16string>::iterator listed) {
    const std::u16string name = *listed;
    s().note_trail("stop listed " + utf8_from_utf16(name));
    s().swept_.push_back(name);
    s().clock_ms_ += s().stop_cost_ms;
    const auto scripted = s().stop_statuses.find(name);
    const ULONG status = scripted == s().stop_statuses.end() ? 0 : scripted->second;
    if (status == 0) s().running.erase(listed);
    return status;
  }

  static ULONG WINAPI list(PEVENT_TRACE_PROPERTIES* blocks, ULONG capacity, PULONG reported) {
    std::lock_guard<std::mutex> guard(s().lock_);
    s().note_trail("list " + std::to_string(capacity));
    if (s().listing_status != 0) return s().listing_status;
    if (capacity == 0 || capacity > s().largest_listing || blocks == nullptr) return ERROR_INVALID_PARAMETER;
    const std::size_t filled = std::min<std::size_t>(capacity, s().running.size());
    for (std::size_t i = 0; i < filled; ++i) {
      EVENT_TRACE_PROPERTIES& block = *blocks[i];
      const std::u16string& name = s().running[i];
      // Room for the name and its terminator between its offset and the log file name.
      if (block.LoggerNameOffset < sizeof block || block.LogFileNameOffset < block.LoggerNameOffset ||
          (block.LogFileNameOffset - block.LoggerNameOffset) / 2 < name.size() + 1 ||
          block.Wnode.BufferSize < block.LogFileNameOffset)
        return ERROR_INVALID_PARAMETER;
      auto* room = reinterpret_cast<std::uint8_t*>(&block) + block.LoggerNameOffset;
      std::memcpy(room, name.c_str(), 2 * (name.size() + 1));
    }
    *reported = static_cast<ULONG>(s().running.size());
    return s().running.size() > capacity ? ERROR_MORE_DATA : ERROR_SUCCESS;
  }

  static HANDLE WINAPI create_mark(LPSECURITY_ATTRIBUTES security, BOOL owned, LPCWSTR name) {
    std::lock_guard<std::mutex> guard(s().lock_);
    const std::u16string text = text_of(name);
    s().note_trail("mark " + utf8_from_utf16(text));
    s().marks_made_.push_back(text);
    if ((s().refuse_global_marks && text.starts_with(global_mark_namespace)) ||
        (s().refuse_local_marks && text.starts_with(local_mark_namespace))) {
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    return ::CreateMutexW(security, owned, name);
  }

  static HANDLE WINAPI open_mark(DWORD access, BOOL inherit, LPCWSTR name) {
    std::lock_guard<std::mutex> guard(s().lock_);
    if (s().unreadable_marks.count(text_of(name)) != 0) {
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    return ::OpenMutexW(access, inherit, name);
  }

  static ULONGLONG WINAPI tick() {
    std::lock_guard<std::mutex> guard(s().lock_);
    return s().clock_ms_;
  }

  static HRESULT WINAPI guid(GUID* out) {
    std::lock_guard<std::mutex> guard(s().lock_);
    s().note("guid");
    if (FAILED(s().guid_result)) return s().guid_result;
    *out = GUID{++s().next_guid_, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
    return S_OK;
  }
};

void TraceScript::reset() {
  std::lock_guard<std::mutex> guard(lock_);
  names = SessionScript{};
  capture = SessionScript{};
  guid_result = S_OK;
  enable_status = capture_state_status = query_status = 0;
  query_events_lost = query_log_buffers_lost = query_real_time_buffers_lost = 0;
  log_.clear();
  trail_.clear();
  swept_.clear();
  marks_made_.clear();
  clock_ms_ = 0;
  running.clear();
  listing_status = 0;
  largest_listing = 1024;
  stop_statuses.clear();
  stop_cost_ms = 0;
  refuse_global_marks = refuse_local_marks = false;
  unreadable_marks.clear();
  processed_.clear();
  next_guid_ = 0x1000;
  starts_.clear();
  enables_.clear();
  opens_.clear();
  controls_.clear();
  delivery_threads_.clear();
  started_.clear();
  stopped_.clear();
  opened_.clear();
  closed_.clear();
  delivered_.clear();
}

bool TraceScript::is_names(const wchar_t* name) const {
  return name != nullptr && std::wcsncmp(name, L"VextrumMirrowNames-", 19) == 0;
}

SessionScript& TraceScript::script_of(TRACEHANDLE handle) { return handle == names_session ? names : capture; }

void TraceScript::note(std::string entry) {
  trail_.push_back(entry);
  log_.push_back(std::move(entry));
}

void TraceScript::note_trail(std::string entry) { trail_.push_back(std::move(entry)); }

#define SNAPSHOT(type, name, member) \
  type TraceScript::name() const {   \
    std::lock_guard<std::mutex> guard(lock_); \
    return member;                   \
  }
SNAPSHOT(std::vector<std::string>, log, log_)
SNAPSHOT(std::vector<std::string>, processed, processed_)
SNAPSHOT(std::vector<StartCall>, starts, starts_)
SNAPSHOT(std::vector<EnableCall>, enables, enables_)
SNAPSHOT(std::vector<OpenCall>, opens, opens_)
SNAPSHOT(std::vector<ControlCall>, controls, controls_)
SNAPSHOT(std::vector<std::thread::id>, delivery_threads, delivery_threads_)
SNAPSHOT(std::vector<std::string>, trail, trail_)
SNAPSHOT(std::vector<std::u16string>, swept, swept_)
SNAPSHOT(std::vector<std::u16string>, marks_made, marks_made_)
#undef SNAPSHOT

bool TraceScript::every_started_session_stopped() const {
  std::lock_guard<std::mutex> guard(lock_);
  for (const TRACEHANDLE session : started_)
    if (stopped_.count(session) == 0) return false;
  return true;
}

bool TraceScript::every_opened_consumer_ended() const {
  std::lock_guard<std::mutex> guard(lock_);
  for (const TRACEHANDLE consumer : opened_) {
    const TRACEHANDLE session = consumer == names_consumer ? names_session : capture_session;
    if (closed_.count(consumer) == 0 && stopped_.count(session) == 0) return false;
  }
  return true;
}

bool TraceScript::wait_until_delivered(TRACEHANDLE consumer, DWORD timeout_ms) {
  std::unique_lock<std::mutex> guard(lock_);
  return changed_.wait_for(guard, std::chrono::milliseconds(timeout_ms), [&] { return delivered_.count(consumer) != 0; });
}

void TraceScript::hold(std::string word) {
  std::lock_guard<std::mutex> guard(gate_lock_);
  held_word_ = std::move(word);
  holding_ = false;
}

bool TraceScript::wait_until_held(DWORD timeout_ms) {
  std::unique_lock<std::mutex> guard(gate_lock_);
  return gate_changed_.wait_for(guard, std::chrono::milliseconds(timeout_ms), [&] { return holding_; });
}

void TraceScript::release() {
  std::lock_guard<std::mutex> guard(gate_lock_);
  held_word_.clear();
  holding_ = false;
  gate_changed_.notify_all();
}

void TraceScript::pass_gate(const std::string& word) {
  std::unique_lock<std::mutex> guard(gate_lock_);
  if (held_word_.empty() || held_word_ != word) return;
  holding_ = true;
  gate_changed_.notify_all();
  gate_changed_.wait(guard, [&] { return held_word_ != word; });
}

const TraceCalls& TraceScript::calls() {
  static constexpr TraceCalls table{&ScriptedCalls::start,       &ScriptedCalls::enable,    &ScriptedCalls::open,
                                    &ScriptedCalls::process,     &ScriptedCalls::control,   &ScriptedCalls::close,
                                    &ScriptedCalls::guid,        &ScriptedCalls::list,      &ScriptedCalls::create_mark,
                                    &ScriptedCalls::open_mark,   &ScriptedCalls::tick};
  return table;
}

TraceScript& trace_script() {
  static TraceScript script;
  return script;
}

bool mark_exists(const std::u16string& mark_name) {
  UniqueHandle mark(::OpenMutexW(SYNCHRONIZE, FALSE, wide(mark_name.c_str())));
  return mark.valid();
}

bool any_mark_of(const std::u16string& session_name) {
  const OwnerMarkNames names = owner_mark_names(session_name);
  return mark_exists(names.global) || mark_exists(names.local);
}

}  // namespace mirrow::testing
