#pragma once
// Binding of file objects and file keys to names, and the reads and writes
// waiting for a name.
//
// Read and write events carry only two opaque identities: the file object
// (one open instance) and the file key (the file itself). Names arrive at
// other times, from creates, name events and closes. The maps below keep,
// per identity, the name it had over a span of time; a read is resolved
// against them, parked for a short while when no name is known yet, and
// finally given up as an unknown sample with a reason.
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/clock.h"
#include "engine/capture/names.h"

namespace mirrow {

struct EngineCore;

// End of a binding that is still open.
constexpr double open_end = 1e100;
constexpr std::size_t binding_map_cap = 100000;
constexpr std::size_t binding_eviction_batch = 10000;
constexpr std::size_t pending_io_cap = 4096;
constexpr std::size_t unknown_sample_cap = 16;
constexpr std::uint64_t pending_give_up_ms = 2000;
constexpr std::uint64_t recovery_interval_ms = 250;
constexpr std::uint64_t prune_interval_ms = 5000;
constexpr double prune_grace_seconds = 10.0;

constexpr std::uint32_t kind_read = 1;
constexpr std::uint32_t kind_write = 2;

// During [start, end] an identity had this name.
struct Binding {
  NameRef name;
  double start = 0.0;
  double end = open_end;
};

// Hash map identity -> Binding that remembers insertion order, so that a
// full map gives up its oldest entries first. The order is a doubly linked
// list threaded through the entries by identity; identity 0 is never stored
// and serves as the list's end marker.
class BindingMap {
 public:
  Binding* find(std::uint64_t identity) noexcept;
  const Binding* find(std::uint64_t identity) const noexcept;
  std::size_t size() const noexcept { return entries_.size(); }
  bool empty() const noexcept { return entries_.empty(); }

  // Stores a binding as the newest entry, replacing (and re-ordering) an
  // existing one. Identity 0 is ignored.
  Binding& put(std::uint64_t identity, Binding binding);
  bool erase(std::uint64_t identity) noexcept;
  // Removes the oldest entry; false when the map is empty.
  bool evict_oldest() noexcept;
  std::uint64_t oldest() const noexcept { return oldest_; }

  template <typename Predicate>
  std::size_t erase_if(Predicate&& doomed) {
    std::size_t removed = 0;
    for (std::uint64_t id = oldest_; id != 0;) {
      const Entry& entry = entries_.find(id)->second;
      const std::uint64_t next = entry.newer;
      if (doomed(entry.binding)) {
        erase(id);
        ++removed;
      }
      id = next;
    }
    return removed;
  }

 private:
  struct Entry {
    Binding binding;
    std::uint64_t older = 0;
    std::uint64_t newer = 0;
  };
  void unlink(Entry& entry) noexcept;

  std::unordered_map<std::uint64_t, Entry> entries_;
  std::uint64_t oldest_ = 0;
  std::uint64_t newest_ = 0;
};

// A read or write that found no name yet.
struct PendingIo {
  std::uint64_t file_object = 0;
  std::uint64_t file_key = 0;
  std::uint64_t count = 0;
  std::uint32_t kind = 0;
  std::uint32_t process_id = 0;
  double first = 0.0;
  double last = 0.0;
  std::uint64_t created_ticks = 0;
  bool newer = false;  // a binding newer than the I/O was seen
};

// Reads and writes of the same identities, process and kind within one
// two-second bucket merge into one entry.
struct PendingKey {
  std::uint64_t file_object = 0;
  std::uint64_t file_key = 0;
  std::uint64_t bucket = 0;
  std::uint32_t process_id = 0;
  std::uint32_t kind = 0;
  bool operator==(const PendingKey&) const = default;
};

struct PendingKeyHash {
  std::size_t operator()(const PendingKey& k) const noexcept;
};

// Two-second bucket of a timestamp; saturates instead of overflowing for
// absurdly large times.
std::uint64_t pending_bucket(double timestamp) noexcept;

// A read or write given up. reason is one of "no_identity", "pending_limit",
// "newer_binding", "name_not_seen" (static text).
struct UnknownSample : PendingIo {
  std::string_view reason;
};

// The 16 newest unknown samples, oldest first.
class UnknownSampleRing {
 public:
  void push(const UnknownSample& sample) noexcept;
  std::vector<UnknownSample> oldest_first() const;
  std::size_t size() const noexcept { return size_; }

 private:
  std::array<UnknownSample, unknown_sample_cap> slots_{};
  std::size_t next_ = 0;
  std::size_t size_ = 0;
};

// Millisecond tick source; tests replace it to let time pass.
using TickSource = std::uint64_t (*)();

struct BindingState {
  // Decoding thread only: not locked.
  BindingMap object_bindings;
  BindingMap key_bindings;
  BindingMap previous_object_bindings;
  BindingMap previous_key_bindings;
  std::uint64_t last_prune_ticks = 0;
  std::uint64_t last_recovery_ticks = 0;
  TickSource ticks = &tick_ms;

  std::mutex pending_lock;  // guards pending_io and unknown_samples
  std::unordered_map<PendingKey, PendingIo, PendingKeyHash> pending_io;
  UnknownSampleRing unknown_samples;

};

enum class BindingMapId { objects, keys };

// What a resolution found; name is null when nothing covers the time. The
// pointer stays valid until the binding maps change.
struct Resolution {
  const NameRef* name = nullptr;
  double start = 0.0;
  double end = open_end;
  bool from_current_object = false;  // found in object_bindings
};

// True when the call established a new current binding (inserted or
// replaced one).
bool bind_name(EngineCore& engine, BindingMapId map, std::uint64_t identity, const NameRef& name, double t);
void close_binding(EngineCore& engine, BindingMapId map, std::uint64_t identity, double t) noexcept;
Resolution resolve(const EngineCore& engine, std::uint64_t file_object, std::uint64_t file_key, double t) noexcept;
bool has_newer_binding(const EngineCore& engine, std::uint64_t file_object, std::uint64_t file_key,
                       double t) noexcept;
void attribute_io(EngineCore& engine, std::uint64_t file_object, std::uint64_t file_key, std::uint32_t kind,
                  std::uint32_t process_id, double t);
void recover_pending(EngineCore& engine, bool forced);
void expire_pending(EngineCore& engine, bool all);
void prune_bindings(EngineCore& engine);

// Stop sequence: attribute what a forced recovery can, then turn every read
// or write still unnamed into an unknown sample.
void finish_pending_at_stop(EngineCore& engine);
// What the reports run first: give up the pending reads and writes that are due.
void expire_due_pending(EngineCore& engine);
std::vector<UnknownSample> unknown_samples_snapshot(EngineCore& engine);

}  // namespace mirrow
