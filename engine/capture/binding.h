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
#include <limits>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/clock.h"
#include "engine/core/activity_kind.h"
#include "engine/core/activity_sink.h"
#include "engine/core/caps.h"
#include "engine/core/counters.h"
#include "engine/core/names.h"

namespace mirrow {

// End of a binding that is still open: it covers every later time, however
// large the time an event carries.
constexpr double open_end = std::numeric_limits<double>::infinity();
constexpr std::size_t binding_map_cap = caps::binding_map_cap;
constexpr std::size_t binding_eviction_batch = caps::binding_eviction_batch;
constexpr std::size_t pending_io_cap = caps::pending_io_cap;
constexpr std::size_t unknown_sample_cap = 16;
constexpr std::uint64_t pending_give_up_ms = 2000;
constexpr std::uint64_t recovery_interval_ms = 250;
constexpr std::uint64_t prune_interval_ms = 5000;
constexpr double prune_grace_seconds = 10.0;

// During [start, end] an identity had this name.
struct Binding {
  NameRef name;
  double start = 0.0;
  double end = open_end;
};

// Hash map identity -> Binding that remembers insertion order, so that a
// full map gives up its oldest entries first. Open addressing with linear
// probing over a power-of-two slot table keeps a lookup to one multiply and
// a short probe; the entries live in one pool vector, linked
// oldest to newest.
class BindingMap {
 public:
  Binding* find(std::uint64_t identity) noexcept {
    const std::uint32_t node = locate(identity);
    return node == none ? nullptr : &pool_[node].binding;
  }
  const Binding* find(std::uint64_t identity) const noexcept {
    const std::uint32_t node = locate(identity);
    return node == none ? nullptr : &pool_[node].binding;
  }
  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  // Asks for the memory a look-up of identity starts at, for a caller that
  // has other work to do before the look-up.
  void prefetch(std::uint64_t identity) const noexcept {
    if (!slots_.empty()) __builtin_prefetch(&slots_[home_slot(identity)]);
  }

  // Stores a binding as the newest entry, replacing (and re-ordering) an
  // existing one.
  void put(std::uint64_t identity, Binding binding);
  bool erase(std::uint64_t identity) noexcept;
  // Removes the oldest entry; false when the map is empty.
  bool evict_oldest() noexcept;
  // Removes up to count of the oldest entries; how many it removed.
  std::size_t evict_oldest(std::size_t count) noexcept;
  // Identity of the oldest entry, 0 when empty.
  std::uint64_t oldest() const noexcept { return oldest_ == none ? 0 : pool_[oldest_].identity; }

  template <typename Predicate>
  std::size_t erase_if(Predicate&& doomed) {
    std::size_t removed = 0;
    for (std::uint32_t node = oldest_; node != none;) {
      const std::uint32_t next = pool_[node].newer;
      if (doomed(static_cast<const Binding&>(pool_[node].binding))) {
        erase(pool_[node].identity);
        ++removed;
      }
      node = next;
    }
    return removed;
  }

 private:
  static constexpr std::uint32_t none = 0xFFFFFFFFu;
  struct Entry {
    std::uint64_t identity = 0;
    Binding binding;
    std::uint32_t older = none;
    std::uint32_t newer = none;
  };

  // The upper half of an identity's hash: its slot is the top bits of it.
  static std::uint32_t tag_of(std::uint64_t identity) noexcept {
    return static_cast<std::uint32_t>((identity * 0x9E3779B97F4A7C15ULL) >> 32);
  }
  std::size_t home_of(std::uint32_t tag) const noexcept { return static_cast<std::size_t>(tag >> (shift_ - 32)); }
  std::size_t home_slot(std::uint64_t identity) const noexcept { return home_of(tag_of(identity)); }
  std::uint32_t locate(std::uint64_t identity) const noexcept {
    // Events come in runs on one identity (an open's reads, then its close):
    // the entry found last is checked first. A freed entry has identity 0,
    // which is never stored, so a stale hint never matches.
    if (last_found_ != none && pool_[last_found_].identity == identity && identity != 0) return last_found_;
    if (slots_.empty()) return none;
    const std::size_t mask = slots_.size() - 1;
    const std::uint32_t tag = tag_of(identity);
    for (std::size_t i = home_of(tag);; i = (i + 1) & mask) {
      const Slot& slot = slots_[i];
      if (slot.node == 0) return none;
      if (slot.tag == tag && pool_[slot.node - 1].identity == identity) return last_found_ = slot.node - 1;
    }
  }
  std::size_t slot_of(std::uint32_t node) const noexcept;
  void erase_at(std::size_t slot) noexcept;
  void prefetch_entry(std::uint32_t node) const noexcept;
  void place(std::uint32_t node) noexcept;
  void clear_slot(std::size_t slot) noexcept;
  void grow();
  void link_newest(std::uint32_t node) noexcept;
  void unlink(std::uint32_t node) noexcept;

  // A probe compares tags in the slot table itself and touches the pool
  // only when the tags agree, nearly always for the entry it looks for.
  // Eight bytes a slot: the tables of the four maps stay half as large, and
  // a slot's home follows from its tag, so deletion never reads the pool.
  struct Slot {
    std::uint32_t tag = 0;   // tag_of the entry's identity
    std::uint32_t node = 0;  // pool index + 1; 0 = empty
  };

  // Grows (and moves) only when an entry is added: a Binding* from find
  // stays valid until the next put on the same map.
  std::vector<Entry> pool_;            // freed entries are reused
  std::vector<std::uint32_t> free_;    // pool indices of freed entries
  std::vector<Slot> slots_;
  unsigned shift_ = 64;                // 64 - log2(slot count); used once there are slots
  std::size_t size_ = 0;
  std::uint32_t oldest_ = none;
  std::uint32_t newest_ = none;
  mutable std::uint32_t last_found_ = none;  // a hint only; see locate
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
  std::uint64_t budget_refusals_seen = 0;  // names.budget_refusals at the last relief
  TickSource ticks = &tick_ms;
  // The path of the event being decoded, parsed and normalised in place:
  // its memory serves every event, so only a new name allocates.
  std::u16string name_scratch;
  // The raw paths interned last, for the files a build opens again and again.
  RecentNames recent_names;

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

// Each function takes the states it reads and changes: the binding state,
// the shared counters and names, and the sink that attributed reads and
// writes are recorded into.

// True when the call established a new current binding (inserted or
// replaced one).
bool bind_name(BindingState& s, Counters& counters, BindingMapId map, std::uint64_t identity, const NameRef& name,
               double t);
void close_binding(BindingState& s, BindingMapId map, std::uint64_t identity, double t) noexcept;
Resolution resolve(const BindingState& s, std::uint64_t file_object, std::uint64_t file_key, double t) noexcept;
bool has_newer_binding(const BindingState& s, std::uint64_t file_object, std::uint64_t file_key, double t) noexcept;
// What attributing a read or write reaches: the binding state, the shared
// counters and the sink. They travel as one reference (the decoder's own
// Decoding starts with them), so the hot call keeps every other argument in
// a register.
struct IoLinks {
  BindingState& bindings;
  Counters& counters;
  ActivitySink& activity;
};
void attribute_io(const IoLinks& links, std::uint64_t file_object, std::uint64_t file_key, std::uint32_t kind,
                  std::uint32_t process_id, double t);
void recover_pending(BindingState& s, Counters& counters, ActivitySink& activity, bool forced);
void expire_pending(BindingState& s, Counters& counters, bool all);
void prune_bindings(BindingState& s, NameTable& names);
// When the name budget refused a path since the last call, gives up the
// oldest tenth of every binding map and releases the names nothing else
// holds, so that bindings that never end cannot keep new names out.
void relieve_name_budget(BindingState& s, NameTable& names, Counters& counters);

// Stop sequence: attribute what a forced recovery can, then turn every read
// or write still unnamed into an unknown sample.
void finish_pending_at_stop(BindingState& s, Counters& counters, ActivitySink& activity);
// What the reports run first: give up the pending reads and writes that are due.
void expire_due_pending(BindingState& s, Counters& counters);
std::vector<UnknownSample> unknown_samples_snapshot(BindingState& s);

}  // namespace mirrow
