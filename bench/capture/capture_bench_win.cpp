// Intake throughput: one name create, then 10 million version-1 reads of the
// bound file key, delivered as event records by a stand-in for the tracing
// calls through the real record callback on the capture thread; beside it
// the same workload replayed on the calling thread, which is what
// vt_replay_many runs. Goal: the callback path within 10% of the replay.
#include <windows.h>

#include <cstdio>

#include "bench/replay/replay_figures.h"
#include "engine/api/capture_engine_win.h"
#include "engine/api/native_engine.h"
#include "support/event_record_win.h"

using namespace mirrow;

namespace {

constexpr TRACEHANDLE capture_consumer = 2, names_consumer = 3;
constexpr int rounds = 3;

// CPU seconds of the measured loops, for the closing comparison.
double replay_cpu = 0.0, capture_cpu = 0.0;

double thread_cpu_seconds() {
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0.0;
  auto units = [](const FILETIME& f) { return (static_cast<ULONGLONG>(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
  return static_cast<double>(units(kernel) + units(user)) * 1e-7;
}

std::int64_t filetime_of(double unix_seconds) {
  return static_cast<std::int64_t>(unix_seconds * 1e7) + 116444736000000000LL;
}

// A kernel-file event of the workload's process and time; the payload must
// outlive the record made from it.
testing::RecordFields workload_event(std::uint16_t id, std::uint8_t version, const test::Bytes& payload,
                                     void* context) {
  testing::RecordFields fields;
  fields.provider = testing::kernel_file_guid;
  fields.id = id;
  fields.version = version;
  fields.process_id = bench::replay_pid;
  fields.timestamp = filetime_of(bench::replay_time);
  fields.user_data = payload.data();
  fields.user_data_length = payload.size();
  fields.context = context;
  return fields;
}

// The stand-in tracing: the capture consumer's ProcessTrace delivers the
// workload once and then waits, like the real one, until it is closed.
struct BenchTracing {
  static inline PEVENT_RECORD_CALLBACK callback = nullptr;
  static inline void* context = nullptr;
  static inline HANDLE delivered = nullptr;
  static inline HANDLE released = nullptr;

  static ULONG WINAPI start(PTRACEHANDLE handle, LPCWSTR, PEVENT_TRACE_PROPERTIES) {
    *handle = 1;
    return 0;
  }
  static ULONG WINAPI enable(TRACEHANDLE, LPCGUID, ULONG, UCHAR, ULONGLONG, ULONGLONG, ULONG, PENABLE_TRACE_PARAMETERS) {
    return 0;
  }
  static TRACEHANDLE WINAPI open(PEVENT_TRACE_LOGFILEW logfile) {
    if (wcsncmp(logfile->LoggerName, L"VextrumMirrowNames-", 19) == 0) return names_consumer;
    callback = logfile->EventRecordCallback;
    context = logfile->Context;
    return capture_consumer;
  }
  static ULONG WINAPI process(PTRACEHANDLE handles, ULONG, LPFILETIME, LPFILETIME) {
    if (handles[0] == capture_consumer) {
      const test::Bytes name_payload = bench::name_create_payload();
      const test::Bytes read_payload = bench::bound_read_payload();
      EVENT_RECORD name_record = testing::event_record(workload_event(10, 0, name_payload, context));
      callback(&name_record);
      EVENT_RECORD read_record = testing::event_record(workload_event(15, 1, read_payload, context));
      bench::measure_and_print("intake callback (capture thread)", thread_cpu_seconds, [&] {
        const double start = thread_cpu_seconds();
        for (std::uint32_t i = 0; i < bench::replay_events; ++i) callback(&read_record);
        capture_cpu = thread_cpu_seconds() - start;
      });
      SetEvent(delivered);
    }
    WaitForSingleObject(released, INFINITE);
    ResetEvent(released);
    return 0;
  }
  static ULONG WINAPI control(TRACEHANDLE, LPCWSTR, PEVENT_TRACE_PROPERTIES, ULONG) {
    SetEvent(released);
    return 0;
  }
  static ULONG WINAPI close(TRACEHANDLE) {
    SetEvent(released);
    return 0;
  }
  static HRESULT WINAPI guid(GUID* out) {
    *out = GUID{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    return S_OK;
  }
  // Not constexpr: the members left to their defaults are imported functions.
  static inline const TraceCalls calls{&start, &enable, &open, &process, &control, &close, &guid};
};

template <typename AnyEngine>
void report(const char* label, const AnyEngine& engine) {
  std::printf("  %s: events %llu, io_total %llu, errors %llu, malformed %llu\n", label,
              static_cast<unsigned long long>(engine.counter("events")),
              static_cast<unsigned long long>(engine.counter("io_total")),
              static_cast<unsigned long long>(engine.counter("errors")),
              static_cast<unsigned long long>(engine.counter("malformed")));
}

// The decoder loop vt_replay_many runs, on the engine's pure core.
void replay_round() {
  NativeEngine engine;
  engine.add_root(1, u"C:\\Data", false);
  const test::Bytes name = bench::name_create_payload();
  const test::Bytes read = bench::bound_read_payload();
  engine.replay(10, 0, bench::replay_pid, bench::replay_time, name.data(), name.size());
  bench::measure_and_print("replay (vt_replay_many's loop)", thread_cpu_seconds,
                           [&] {
                             const double start = thread_cpu_seconds();
                             engine.replay_many(15, 1, bench::replay_pid, bench::replay_time, read.data(),
                                                read.size(), bench::replay_events);
                             replay_cpu = thread_cpu_seconds() - start;
                           });
  report("replay", engine);
}

bool capture_round() {
  CaptureEngine engine;
  engine.add_root(1, u"C:\\Data", false);
  // Only the capture side: the root's directory need not exist here.
  if (engine.start_capture(BenchTracing::calls) != 0) return false;
  WaitForSingleObject(BenchTracing::delivered, INFINITE);
  ResetEvent(BenchTracing::delivered);
  engine.stop();
  report("capture", engine);
  return true;
}

}  // namespace

int main() {
  BenchTracing::delivered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  BenchTracing::released = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  for (int round = 0; round < rounds; ++round) {
    std::printf("round %d\n", round + 1);
    replay_round();
    if (!capture_round()) return 1;
    std::printf("  callback cpu / replay cpu: %.3f (goal: at most 1.10)\n", capture_cpu / replay_cpu);
  }
  return 0;
}
