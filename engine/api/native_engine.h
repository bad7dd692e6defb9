#pragma once
// A narrow entry to the pure engine for programs that drive it in-process
// (the benchmarks): configuration, the decoder as vt_replay and the capture
// thread hand events in, the drain, the counters and the sizes of the
// capped containers. It names no engine internals, so the engine's data
// structures can change without touching any program that uses it.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mirrow {

struct EngineCore;
struct Budget;

// Which provider a live event came from, as the trace intake tells them
// apart.
enum class LiveProvider {
  kernel_file,      // decoded by id and version
  classic_file_io,  // the system logger's file-I/O class: name events, told by opcode
};

// One live event as the trace consumer hands it to the intake.
struct LiveEvent {
  LiveProvider provider = LiveProvider::kernel_file;
  std::uint16_t id = 0;
  std::uint8_t version = 0;
  std::uint8_t opcode = 0;  // classic events only
  std::uint32_t pid = 0;
  std::int64_t filetime = 0;  // 100-ns units since 1601-01-01 UTC
  const std::uint8_t* payload = nullptr;
  std::uint16_t length = 0;
};

// Sizes of the containers that grow with the observed system, each read
// under the lock that guards it.
struct NativeEngineSizes {
  std::size_t object_bindings = 0;
  std::size_t key_bindings = 0;
  std::size_t previous_object_bindings = 0;
  std::size_t previous_key_bindings = 0;
  std::size_t names = 0;
  std::size_t names_held_by_table_alone = 0;  // no binding, group or pending read holds them
  std::uint64_t name_bytes = 0;                // charged to the name budget
  std::size_t pending_io = 0;
  std::size_t pending_opens = 0;
  std::size_t open_groups = 0;   // still being filled
  std::size_t ready_groups = 0;  // waiting to be drained
};

// The name memory of an engine, held beyond the engine's end: once the
// engine is gone, every name it made must have given its charge and its
// block back, and nothing but this watch may still hold the budget.
class NameMemoryWatch {
 public:
  std::uint64_t charged_bytes() const;    // the budget's total of live names
  std::uint64_t pool_kept_bytes() const;  // freed blocks the pool keeps for new names
  // References to the budget besides this watch: the name table and every
  // live name.
  long other_holders() const;

 private:
  friend class NativeEngine;
  std::shared_ptr<Budget> budget_;
};

class NativeEngine {
 public:
  NativeEngine();
  ~NativeEngine();
  NativeEngine(const NativeEngine&) = delete;
  NativeEngine& operator=(const NativeEngine&) = delete;

  // Configuration, before the first event.
  void set_own_pid(std::uint32_t pid);
  // Kernel device prefix (\device\harddiskvolume1) and the drive it is
  // mounted as (c:), both normalised.
  void map_device(std::u16string_view device, std::u16string_view drive);
  // 0, or 87 for an id below 1 or while running.
  std::uint32_t add_root(std::int64_t id, std::u16string_view path, bool recursive);
  void set_probe(std::u16string_view path);
  void add_missing(std::u16string_view path);
  void track_missing_opens(bool track);
  // vt_exclude: 0, or 87 while running.
  std::uint32_t add_exclusion(std::u16string_view path);
  void clear_missing();
  // vt_test_recovery: switches the tracking of missing opens; 0, or 87
  // while running.
  std::uint32_t test_recovery(bool on);
  // The millisecond clock of pending expiry, recovery, pruning and pending
  // opens; a test hands in a scripted one.
  void set_tick_source(std::uint64_t (*ticks)());

  // vt_start and vt_stop without the system's part (watchers and trace
  // sessions): the start puts the roots in classification order, sets the
  // tracking of missing opens and refuses replays, test emits and
  // configuration from then on (87 when already running); the stop
  // attributes or gives up every pending read and write and lets them in
  // again. Counters, bindings, names and groups stay, as they do there.
  std::uint32_t start(bool track_missing_opens);
  void stop() noexcept;
  bool running() const noexcept;

  // One kernel-file event through the decoder, with 8-byte pointers, as the
  // capture thread hands it in.
  void replay(std::uint16_t id, std::uint8_t version, std::uint32_t pid, double unix_seconds,
              const std::uint8_t* payload, std::uint64_t length) noexcept;
  // vt_replay: one event through the decoder, then a forced recovery pass.
  // 0, or 87 while running.
  std::uint32_t host_replay(std::uint16_t id, std::uint8_t version, std::uint32_t pid, double unix_seconds,
                            const std::uint8_t* payload, std::uint64_t length) noexcept;
  // vt_replay_many: the same event count times in a tight loop. 0, or 87.
  std::uint32_t replay_many(std::uint16_t id, std::uint8_t version, std::uint32_t pid, double unix_seconds,
                            const std::uint8_t* payload, std::uint64_t length, std::uint32_t count) noexcept;
  // One live event through the trace intake's routing.
  void deliver(const LiveEvent& event) noexcept;
  // A recorded trace file's bytes, every event through the intake as
  // vt_replay_file hands them in; returns its status and puts its report in
  // `report`. `device_entries` as vt_replay_file takes them (null: none).
  std::uint32_t replay_trace_file(std::span<const std::uint8_t> bytes, std::string& report,
                                  const std::u16string* device_entries = nullptr) noexcept;
  // Folds one finished activity of path into its group, as the decoder does
  // for an attributed event.
  void record(std::u16string_view path, std::uint32_t kind, std::uint32_t pid, double unix_seconds,
              std::uint64_t count);

  // vt_test_emit: 0, or 87 for a kind outside 1..10, a time that is not
  // finite or while running.
  std::uint32_t test_emit(std::u16string_view path, std::int32_t kind, std::uint32_t pid, double unix_seconds);

  // One vt_drain batch; the text stays valid until the next drain.
  std::string_view drain();
  // What vt_stats and vt_diagnostics run first: gives up the pending reads
  // and writes that are due.
  void expire_due_pending();

  // A counter by the key vt_stats and vt_diagnostics give it (io_total,
  // dropped, ...); throws std::invalid_argument for a key no counter has.
  std::uint64_t counter(std::string_view key) const;
  // Every counter with its key, in the order of the statistics and
  // diagnostics: one reading of all of them.
  std::vector<std::pair<std::string_view, std::uint64_t>> counters() const;
  NativeEngineSizes sizes() const;
  NameMemoryWatch watch_name_memory() const;

 private:
  std::unique_ptr<EngineCore> core_;
};

// What reading a trace file's bytes found, as vt_replay_file's reader reads
// them, with the events delivered nowhere.
struct TraceReading {
  bool readable = false;
  std::uint64_t events = 0;
  std::uint64_t buffers = 0;
  std::uint64_t decompressed_bytes = 0;
  std::uint64_t skipped = 0;
};
TraceReading read_trace_file(std::span<const std::uint8_t> bytes);

// NativeEngine::counter for any engine core.
std::uint64_t counter_by_key(const EngineCore& core, std::string_view key);

}  // namespace mirrow
