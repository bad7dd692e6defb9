#pragma once
// A slow, obvious engine for the sequence fuzzer to hold the real one
// against: the rules of decoding, name binding, pending reads and writes,
// aggregation, the drain and interning, written again with plain ordered
// maps keyed by the normalised path, with no caps, no eviction, no
// prefetching, no memory of recent names and no cached classification.
//
// Because it has no caps, it describes the engine only while no cap was
// reached; the fuzzer compares the two only then (see sequence_fuzz.cpp).
// Under that condition a path keeps one name for as long as anything holds
// it, so keying by the path text is keying by the name.
#include <array>
#include <cstdint>
#include <deque>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "fuzz/sequence_drain.h"
#include "fuzz/sequence_script.h"

namespace mirrow::fuzz {

// The engine's counters, in the order of the statistics and diagnostics.
enum class Count : std::size_t {
  events, errors, unattributed, key_derived_bindings, own_io, dropped, watch_losses, watch_notifications,
  initial_missing, late_recovered, no_identity, name_not_seen, pending_limit, mapping_evictions, unsupported,
  malformed, pending_names, io_total, newer_binding, manifest_names, classic_names, helper_events, own_reads,
  own_writes,
};
inline constexpr std::size_t counter_count = 24;
constexpr std::size_t at(Count c) { return static_cast<std::size_t>(c); }
// Their keys.
extern const char* const model_counter_keys[counter_count];
using ModelCounters = std::array<std::uint64_t, counter_count>;

struct ModelSizes {
  std::size_t object_bindings = 0;
  std::size_t key_bindings = 0;
  std::size_t previous_object_bindings = 0;
  std::size_t previous_key_bindings = 0;
  std::size_t pending_io = 0;
  std::size_t pending_opens = 0;
  std::size_t open_groups = 0;
  std::size_t ready_groups = 0;
};

class SequenceModel {
 public:
  // now_ms: the scripted millisecond clock the engine reads too.
  explicit SequenceModel(const std::uint64_t* now_ms);

  // Configuration, as the host gives it.
  void set_own_pid(std::uint32_t pid) { own_pid_ = pid; }
  void map_device(std::u16string_view device, std::u16string_view drive);
  std::uint32_t add_root(std::int64_t id, std::u16string_view path, bool flag);
  std::uint32_t add_exclusion(std::u16string_view path);
  void add_missing(std::u16string_view path);
  void clear_missing() { missing_.clear(); }
  std::uint32_t test_recovery(bool on);
  std::uint32_t start(bool track_missing_opens);
  void stop();
  bool running() const { return running_; }

  // One kernel-file event through the decoder at time t (Unix seconds),
  // as the capture thread or the plain decoder hands it in.
  void decode(const Step& event, double t);
  // vt_replay: refused while running, else decode and a forced recovery.
  std::uint32_t host_replay(const Step& event, double t);
  // A classic name event at its file time.
  void classic(const Step& event);
  std::uint32_t test_emit(std::u16string_view path, std::int32_t kind, std::uint32_t pid, double t);
  void expire_due() { expire_pending(false); }

  // Holds one engine drain against the model's: the records must be the
  // model's next ones, in an order the drain rule allows, and as many as it
  // allows. Empty when they are; else what differs.
  std::string take_drain(const std::vector<DrainRecord>& batch);

  const ModelCounters& counters() const { return counters_; }
  ModelSizes sizes() const;

  // The conversion of a file time that every delivered event gets.
  static double unix_seconds(std::int64_t filetime);

 private:
  static constexpr double open_end = std::numeric_limits<double>::infinity();  // covers every later time

  struct Binding {
    std::u16string name;
    double start = 0;
    double end = open_end;
  };
  using Bindings = std::map<std::uint64_t, Binding>;
  enum class MapId { objects, keys };

  struct Resolution {
    bool found = false;
    std::u16string name;
    double start = 0;
    double end = open_end;
  };

  struct Pending {
    std::uint64_t file_object = 0;
    std::uint64_t file_key = 0;
    std::uint64_t count = 0;
    std::uint32_t kind = 0;
    std::uint32_t pid = 0;
    double first = 0;
    double last = 0;
    std::uint64_t created_ms = 0;
    bool newer = false;
  };
  // file object, file key, two-second bucket, process, kind
  using PendingKey = std::tuple<std::uint64_t, std::uint64_t, std::uint64_t, std::uint32_t, std::uint32_t>;

  struct PendingOpen {
    std::u16string name;
    std::uint32_t pid = 0;
    std::uint64_t stored_ms = 0;
  };

  struct Group {
    std::int64_t root = 0;
    std::u16string name;
    std::uint32_t pid = 0;
    std::uint32_t kind = 0;
    std::uint64_t count = 0;
    double first = 0;
    double last = 0;
  };
  // name, five-second window, process, kind
  using GroupKey = std::tuple<std::u16string, std::uint64_t, std::uint32_t, std::uint32_t>;
  struct ReadyGroup {
    std::uint64_t drain = 0;  // the drain that queued it
    Group group;
  };

  struct Root {
    std::int64_t id = 0;
    std::u16string path;
    bool flag = false;
  };

  std::u16string intern(std::u16string_view raw) const;
  std::int64_t classify(const std::u16string& path) const;

  Bindings& current(MapId map) { return map == MapId::objects ? objects_ : keys_; }
  Bindings& history(MapId map) { return map == MapId::objects ? previous_objects_ : previous_keys_; }
  bool bind(MapId map, std::uint64_t identity, const std::u16string& name, double t);
  void close(MapId map, std::uint64_t identity, double t);
  Resolution resolve(std::uint64_t file_object, std::uint64_t file_key, double t) const;
  bool has_newer(std::uint64_t file_object, std::uint64_t file_key, double t) const;
  void attribute(std::uint64_t file_object, std::uint64_t file_key, std::uint32_t kind, std::uint32_t pid, double t);
  void give_up(const Pending& p, Count reason);
  void recover(bool forced);
  void expire_pending(bool all);
  void prune();
  void maintain(std::uint64_t n);
  void dispatch(const Step& e, double t);
  void record(const std::u16string& name, std::uint32_t kind, std::uint32_t pid, double first, std::uint64_t count,
              double last);
  void queue_open_groups();
  void add(Count counter, std::uint64_t n = 1) { counters_[at(counter)] += n; }

  const std::uint64_t* now_ms_;
  std::uint32_t own_pid_ = 0;
  bool running_ = false;
  bool track_missing_opens_ = false;
  std::vector<std::pair<std::u16string, std::u16string>> devices_;
  std::vector<Root> roots_;
  std::vector<std::u16string> exclusions_;
  std::set<std::u16string> missing_;

  Bindings objects_, keys_, previous_objects_, previous_keys_;
  std::map<PendingKey, Pending> pending_;
  std::map<std::uint64_t, PendingOpen> pending_opens_;
  std::uint64_t last_prune_ms_ = 0;
  std::uint64_t last_recovery_ms_ = 0;

  std::map<GroupKey, Group> groups_;
  std::deque<ReadyGroup> ready_;
  std::uint64_t drains_ = 0;

  ModelCounters counters_{};
};

}  // namespace mirrow::fuzz
