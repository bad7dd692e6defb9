#pragma once
// Interned path names shared by bindings, pending opens and activity groups.
// Each distinct normalised path is held once; everything else refers to it by
// reference and compares names by id. A byte budget bounds the text held.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>
#include "common/flat_map.h"
#include "common/paths.h"
#include "common/short_lock.h"
#include "engine/core/caps.h"
#include "engine/core/counters.h"
#include "engine/core/name_blocks.h"

namespace mirrow {

// Sum of the charges of all live names of one engine, and the memory of
// names that died, kept for new ones. Shared with every name so that a name
// outliving its table still has somewhere to return its bytes and its block.
struct Budget {
  std::atomic<std::uint64_t> bytes{0};
  NameBlocks blocks;
};

// Immutable once created; dies on whatever thread drops the last reference.
// A name and its path text share one block, so that making a name costs a
// single allocation and reading its path touches the memory the look-up
// already brought in.
struct Name {
 private:
  friend class NameRef;
  // First in the block, on the line that every reader of the id touches
  // too, so that dropping a reference seldom fetches a line of its own.
  mutable std::atomic<std::uint32_t> references_{1};

 public:
  std::uint64_t id = 0;
  std::u16string_view path;  // normalised, device prefix mapped to its drive; in this name's block
  std::shared_ptr<Budget> budget;
  std::uint64_t charge = 0;  // 2 bytes per unit + 64
  std::uint64_t hash = 0;    // path_hash of path, the key of the name table
  // Classification of this path under the current configuration, packed as
  // (generation << 32) | (root index + 1, or 0 when not reported); see
  // classify_name. Saves hashing the whole path for every event.
  mutable std::atomic<std::uint64_t> classification{0};

 private:
  Name() = default;
  ~Name() = default;
  // Makes a name whose block also holds a copy of path and charges it to
  // budget; its one reference belongs to the NameRef handed back.
  static Name* make(std::u16string_view path, std::uint64_t id, std::uint64_t hash, std::shared_ptr<Budget> budget);
  void release() const noexcept;
};

// A counted reference to a name: copies share it, the last one gone frees
// it. Equal when both refer to the same name (or both to none).
class NameRef {
 public:
  constexpr NameRef() noexcept = default;
  constexpr NameRef(std::nullptr_t) noexcept {}  // NOLINT: as no name, like a null pointer
  NameRef(const NameRef& other) noexcept : name_(other.name_) { retain(); }
  NameRef(NameRef&& other) noexcept : name_(std::exchange(other.name_, nullptr)) {}
  NameRef& operator=(const NameRef& other) noexcept {
    other.retain();
    drop();
    name_ = other.name_;
    return *this;
  }
  NameRef& operator=(NameRef&& other) noexcept {
    if (this != &other) {
      drop();
      name_ = std::exchange(other.name_, nullptr);
    }
    return *this;
  }
  ~NameRef() { drop(); }

  // A new name with its own copy of path, charged to budget (when there is one).
  static NameRef make(std::u16string_view path, std::uint64_t id, std::uint64_t hash, std::shared_ptr<Budget> budget) {
    return NameRef(Name::make(path, id, hash, std::move(budget)));
  }

  const Name* get() const noexcept { return name_; }
  const Name& operator*() const noexcept { return *name_; }
  const Name* operator->() const noexcept { return name_; }
  explicit operator bool() const noexcept { return name_ != nullptr; }
  void reset() noexcept {
    drop();
    name_ = nullptr;
  }
  // How many references the name has; 0 for none.
  std::uint32_t use_count() const noexcept {
    return name_ == nullptr ? 0 : name_->references_.load(std::memory_order_acquire);
  }
  friend bool operator==(const NameRef& a, const NameRef& b) noexcept { return a.name_ == b.name_; }

 private:
  explicit NameRef(Name* name) noexcept : name_(name) {}
  void retain() const noexcept {
    if (name_ != nullptr) name_->references_.fetch_add(1, std::memory_order_relaxed);
  }
  void drop() noexcept {
    if (name_ != nullptr) name_->release();
  }

  Name* name_ = nullptr;
};

// The absent second name of most activity: constant-initialised, so that
// handing it out costs no guard check.
inline constinit const NameRef no_name{};

// The name table with its lock, id sequence and byte budget.
struct NameTable {
  static constexpr std::size_t capacity = caps::name_table_capacity;
  static constexpr std::uint64_t budget_limit = caps::name_budget_limit;  // bytes of path text

  ShortLock names_lock;  // taken for every path an event names
  // Keyed by a view of the name's own path, which lives as long as the entry.
  FlatMap<std::u16string_view, NameRef, PathHash, PathEqual> name_table;
  std::uint64_t next_name_id = 1;  // ids are never reused within an engine
  std::shared_ptr<Budget> budget = std::make_shared<Budget>();
  // New paths refused because the budget was full; the decoding thread looks
  // at it to give up old bindings whose names hold the budget.
  std::atomic<std::uint64_t> budget_refusals{0};
  // Kernel device prefixes and the drives they are mounted as, which raw
  // paths are mapped with before they are looked up. Made with the engine;
  // a replay of a recording swaps in the recording machine's map while it
  // runs (and forgets the recent names on both swaps).
  DeviceMap device_map;
};

// Bytes a name of that many UTF-16 units charges to the budget.
constexpr std::uint64_t name_charge(std::size_t units) { return 2 * static_cast<std::uint64_t>(units) + 64; }

// Normalises and device-maps raw_path and returns its shared name; empty
// (and 1 added to dropped and to budget_refusals) when the budget cannot
// take a new path.
NameRef intern_name(NameTable& names, Counters& counters, std::u16string raw_path);

// As intern_name for the raw path held in path, which is normalised and
// device-mapped in place: a caller that keeps one buffer for every event
// allocates only when a path is new to the table.
NameRef intern_name_in_place(NameTable& names, Counters& counters, std::u16string& path);

// The raw paths the decoding thread interned last, each with the name it
// came to: a build opens the same files again and again, and the same raw
// text always normalises to the same path (the device map is fixed when
// the engine is made, and a replay that maps with another one forgets the
// memory before and after), so a repeated path skips normalising, mapping and
// hashing. An entry answers only while the table still holds its name at
// the place it had, so a name the table let go is made again exactly as
// without this memory. Used by the decoding thread alone, unlocked.
class RecentNames {
 public:
  static constexpr std::size_t slot_count = caps::recent_name_slots;
  // Longer raw paths are interned without being remembered, so that the
  // memory stays within 4096 slots of a kilobyte's text each.
  static constexpr std::size_t longest_remembered = 512;

  struct Slot {
    std::u16string raw;
    std::uint64_t name_id = 0;      // 0: empty
    std::size_t place = 0;          // in the name table
    std::uint64_t fingerprint = 0;  // of raw, compared before the text
  };

  // The slot of a raw path, and the path's fingerprint.
  Slot& slot_for(std::u16string_view raw, std::uint64_t& fingerprint);
  Slot& slot_for(std::u16string_view raw) {
    std::uint64_t fingerprint = 0;
    return slot_for(raw, fingerprint);
  }
  // Forgets every raw path: after a change of the device map the same raw
  // text comes to another name.
  void forget() { slots_.clear(); }

 private:
  std::vector<Slot> slots_;  // made on first use
};

// intern_name_in_place for a path the decoding thread parsed from an event,
// remembered in recent.
NameRef intern_event_name(NameTable& names, Counters& counters, RecentNames& recent, std::u16string& path);

// Drops every table entry whose name nothing else refers to.
void release_unreferenced_names(NameTable& names);

}  // namespace mirrow
