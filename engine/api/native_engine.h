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

namespace mirrow {

struct EngineCore;

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
  // 0, or 87 for an id below 1.
  std::uint32_t add_root(std::int64_t id, std::u16string_view path, bool recursive);
  void set_probe(std::u16string_view path);
  void add_missing(std::u16string_view path);
  void track_missing_opens(bool track);

  // One kernel-file event through the decoder, with 8-byte pointers, as the
  // capture thread hands it in.
  void replay(std::uint16_t id, std::uint8_t version, std::uint32_t pid, double unix_seconds,
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

  // One vt_drain batch; the text stays valid until the next drain.
  std::string_view drain();

  // A counter by the key vt_stats and vt_diagnostics give it (io_total,
  // dropped, ...); throws std::invalid_argument for a key no counter has.
  std::uint64_t counter(std::string_view key) const;
  NativeEngineSizes sizes() const;

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
