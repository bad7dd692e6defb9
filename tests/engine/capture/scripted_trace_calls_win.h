#pragma once
// A scripted stand-in for the platform's tracing: records every call with
// its arguments, answers with the scripted statuses, and delivers scripted
// event records through the consumer's own callback on the thread that runs
// ProcessTrace, which then blocks like the real one until its session is
// stopped or its consumer closed. It also lists scripted leftover sessions
// for the sweep and stops them by name, and makes the ownership marks as
// real named mutexes, so that tests can hold or look for them themselves.
#include <windows.h>
#include <evntcons.h>
#include <evntrace.h>

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/capture/trace_calls_win.h"
#include "support/event_record_win.h"

namespace mirrow::testing {

// One event the scripted consumer delivers, with its payload.
struct ScriptedEvent {
  GUID provider;
  std::uint16_t id = 0;
  std::uint8_t version = 0;
  std::uint8_t opcode = 0;
  bool header_32bit = false;
  std::uint32_t process_id = 0;
  std::int64_t timestamp = 133000000000000000;  // a 2022 file time
  std::vector<std::uint8_t> data{};
};

// Scripted answers and losses for one of the two sessions.
struct SessionScript {
  ULONG start_status = 0;
  DWORD open_error = 0;  // 0: the consumer opens
  ULONG stop_status = 0;          // for stops by session handle
  ULONG stop_by_name_status = 0;  // for stops by name alone (a zero handle)
  ULONG events_lost = 0, log_buffers_lost = 0, real_time_buffers_lost = 0;
  std::vector<ScriptedEvent> events;
};

struct StartCall {
  std::u16string name;
  std::vector<std::uint8_t> block;
  bool owner_mark_held = false;  // the session's mark existed when it was started
  const EVENT_TRACE_PROPERTIES& properties() const { return *reinterpret_cast<const EVENT_TRACE_PROPERTIES*>(block.data()); }
};

struct EnableCall {
  TRACEHANDLE session;
  GUID provider;
  ULONG control_code;
  UCHAR level;
  ULONGLONG match_any, match_all;
  ULONG timeout;
  bool has_parameters = false;
  ULONG parameters_version = 0, enable_property = 0, control_flags = 0, filter_count = 0, filter_type = 0, filter_size = 0;
  GUID source_id{};
  std::vector<std::uint8_t> filter{};
};

struct OpenCall {
  std::u16string name;
  ULONG mode;
  PEVENT_RECORD_CALLBACK callback;
  void* context;
};

struct ControlCall {
  TRACEHANDLE session;
  std::u16string name;
  ULONG code;
};

class TraceScript {
 public:
  static constexpr TRACEHANDLE names_session = 101, capture_session = 202;
  static constexpr TRACEHANDLE names_consumer = 1101, capture_consumer = 1202;

  // Forgets all calls and restores the all-succeeding script.
  void reset();

  // Scripted answers, set before the calls.
  SessionScript names, capture;
  HRESULT guid_result = S_OK;
  ULONG enable_status = 0;
  ULONG capture_state_status = 0;
  ULONG query_status = 0;
  ULONG query_events_lost = 0, query_log_buffers_lost = 0, query_real_time_buffers_lost = 0;

  // Sessions already running when an engine starts, in the order the
  // listing hands them out; a successful stop by name removes one.
  std::vector<std::u16string> running;
  ULONG listing_status = 0;      // a failing listing
  ULONG largest_listing = 1024;  // larger listings are refused, as older systems do beyond 64
  std::map<std::u16string, ULONG> stop_statuses;  // stops by name of listed sessions; 0 when absent
  ULONGLONG stop_cost_ms = 0;    // how far the scripted clock moves per stop of a listed session
  bool refuse_global_marks = false;  // marks in "Global\" are refused with access denied
  bool refuse_local_marks = false;
  std::set<std::u16string> unreadable_marks;  // mark names whose open is refused with access denied

  // What was called, in order, as short words ("start names", "enable",
  // "capture state", "open capture", "stop capture", "query", "close names",
  // "guid"). ProcessTrace runs on its own thread and is left out.
  std::vector<std::string> log() const;
  // Sessions whose ProcessTrace was entered ("names", "capture").
  std::vector<std::string> processed() const;
  std::vector<StartCall> starts() const;
  std::vector<EnableCall> enables() const;
  std::vector<OpenCall> opens() const;
  std::vector<ControlCall> controls() const;
  std::vector<std::thread::id> delivery_threads() const;
  // Every call in order: the words of log() and also "list N" (a listing
  // with room for N), "stop listed NAME" and "mark NAME" (UTF-8 names).
  std::vector<std::string> trail() const;
  // Listed sessions that were stopped by name, successfully or not, in order.
  std::vector<std::u16string> swept() const;
  // Names of the marks that were made or refused, in order.
  std::vector<std::u16string> marks_made() const;
  // True when every session that started successfully was stopped.
  bool every_started_session_stopped() const;
  // True when every consumer that opened was closed or had its session stopped.
  bool every_opened_consumer_ended() const;
  // Blocks until ProcessTrace of that consumer has delivered its events.
  bool wait_until_delivered(TRACEHANDLE consumer, DWORD timeout_ms);

  // Holds the next call whose log word is word ("start names", "stop
  // capture", "close capture") before it does anything, until release():
  // a start or stop then stays in progress for as long as a test needs.
  void hold(std::string word);
  // True once a held call waits, within timeout_ms.
  bool wait_until_held(DWORD timeout_ms);
  void release();

  // The table that engines use in place of the system calls.
  static const TraceCalls& calls();

 private:
  friend struct ScriptedCalls;
  bool is_names(const wchar_t* name) const;
  SessionScript& script_of(TRACEHANDLE handle);
  void note(std::string entry);
  void note_trail(std::string entry);
  // Waits here while the call with that word is held.
  void pass_gate(const std::string& word);

  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::vector<std::string> log_;
  std::vector<std::string> trail_;
  std::vector<std::u16string> swept_;
  std::vector<std::u16string> marks_made_;
  ULONGLONG clock_ms_ = 0;
  std::vector<std::string> processed_;
  std::vector<StartCall> starts_;
  std::vector<EnableCall> enables_;
  std::vector<OpenCall> opens_;
  std::vector<ControlCall> controls_;
  std::vector<std::thread::id> delivery_threads_;
  std::set<TRACEHANDLE> started_, stopped_, opened_, closed_, delivered_;
  std::uint32_t next_guid_ = 0x1000;

  std::mutex gate_lock_;
  std::condition_variable gate_changed_;
  std::string held_word_;
  bool holding_ = false;
};

// The one script of this test program.
TraceScript& trace_script();

// Whether a real mark of that exact name exists; whether either of the two
// marks of a session does.
bool mark_exists(const std::u16string& mark_name);
bool any_mark_of(const std::u16string& session_name);

}  // namespace mirrow::testing
