#pragma once
// A hash map with open addressing for the engine's hot look-ups: entries lie
// dense in one vector (iteration walks them in order, no node per entry, and
// emptying keeps the memory for the next fill), and a power-of-two slot table
// holds each entry's index beside 32 bits of its hash, so that a probe
// compares keys only when those bits agree. Linear probing, at most half
// full, with backward-shift deletion (no tombstones).
//
// Entries move when others are erased or the vector grows: pointers and
// references into the map stay valid only until the next insertion or
// erasure.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace mirrow {

template <typename Key, typename Value>
struct FlatEntry {
  Key first;
  Value second;
};

template <typename Key, typename Value, typename Hash, typename Equal = std::equal_to<>>
class FlatMap {
 public:
  using Entry = FlatEntry<Key, Value>;
  using iterator = typename std::vector<Entry>::iterator;
  using const_iterator = typename std::vector<Entry>::const_iterator;

  std::size_t size() const noexcept { return entries_.size(); }
  bool empty() const noexcept { return entries_.empty(); }
  iterator begin() noexcept { return entries_.begin(); }
  iterator end() noexcept { return entries_.end(); }
  const_iterator begin() const noexcept { return entries_.begin(); }
  const_iterator end() const noexcept { return entries_.end(); }

  template <typename K>
  Value* find(const K& key) noexcept {
    return find(key, Hash{}(key));
  }
  // As find, but the two entries found or inserted last are compared first,
  // before any hashing: for keys that come in runs, or in two runs that
  // alternate (the reads and writes of one open file).
  template <typename K>
  Value* find_hinted(const K& key) noexcept {
    if (hint_ < entries_.size() && Equal{}(entries_[hint_].first, key)) return &entries_[hint_].second;
    if (older_hint_ < entries_.size() && Equal{}(entries_[older_hint_].first, key)) {
      std::swap(hint_, older_hint_);
      return &entries_[hint_].second;
    }
    const std::size_t at = locate(key, Hash{}(key));
    if (at == none) return nullptr;
    remember(slot_entry(slots_[at]));
    return &entries_[hint_].second;
  }
  // As find, with the key's hash already known (Hash{}(key)).
  template <typename K>
  Value* find(const K& key, std::uint64_t hash) noexcept {
    const std::size_t at = locate(key, hash);
    return at == none ? nullptr : &entries_[slot_entry(slots_[at])].second;
  }
  template <typename K>
  const Value* find(const K& key) const noexcept {
    return const_cast<FlatMap*>(this)->find(key);
  }

  // Place of the entry with this key in the walk order, or npos; a new entry
  // goes last, and places change only when entries are erased.
  static constexpr std::size_t npos = ~std::size_t{0};
  template <typename K>
  std::size_t position(const K& key, std::uint64_t hash) const noexcept {
    const std::size_t at = locate(key, hash);
    return at == none ? npos : slot_entry(slots_[at]);
  }
  // The value at a place, or null past the end.
  const Value* value_at(std::size_t place) const noexcept {
    return place < entries_.size() ? &entries_[place].second : nullptr;
  }

  // Inserts (key, value) unless the key is present; the stored value either way.
  Value& emplace(Key key, Value value) {
    const std::uint64_t hash = Hash{}(key);
    return emplace(std::move(key), hash, std::move(value));
  }
  Value& emplace(Key key, std::uint64_t hash, Value value) {
    if (const std::size_t at = locate(key, hash); at != none) return entries_[slot_entry(slots_[at])].second;
    if ((entries_.size() + 1) * 2 > slots_.size()) grow();
    entries_.push_back(Entry{std::move(key), std::move(value)});
    remember(entries_.size() - 1);
    place(tag_of(hash), static_cast<std::uint32_t>(hint_));
    return entries_.back().second;
  }

  // Empties the map and keeps its memory.
  void clear() noexcept {
    entries_.clear();
    std::fill(slots_.begin(), slots_.end(), 0);
  }

  template <typename Predicate>
  std::size_t erase_if(Predicate&& doomed) {
    std::size_t removed = 0;
    for (std::size_t i = 0; i < entries_.size();) {
      if (doomed(std::as_const(entries_[i]))) {
        erase_entry(i);
        ++removed;
      } else {
        ++i;
      }
    }
    return removed;
  }

 private:
  static constexpr std::size_t none = ~std::size_t{0};
  // Slot: (tag << 32) | (entry index + 1); 0 is an empty slot.
  static std::uint32_t tag_of(std::uint64_t hash) noexcept {
    return static_cast<std::uint32_t>((hash * 0x9E3779B97F4A7C15ULL) >> 32);
  }
  static std::uint32_t slot_tag(std::uint64_t slot) noexcept { return static_cast<std::uint32_t>(slot >> 32); }
  static std::uint32_t slot_entry(std::uint64_t slot) noexcept { return static_cast<std::uint32_t>(slot) - 1; }
  std::size_t home_of(std::uint32_t tag) const noexcept { return tag & (slots_.size() - 1); }

  template <typename K>
  std::size_t locate(const K& key, std::uint64_t hash) const noexcept {
    if (slots_.empty()) return none;
    const std::uint32_t tag = tag_of(hash);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = home_of(tag);; i = (i + 1) & mask) {
      const std::uint64_t slot = slots_[i];
      if (slot == 0) return none;
      if (slot_tag(slot) == tag && Equal{}(entries_[slot_entry(slot)].first, key)) return i;
    }
  }

  void place(std::uint32_t tag, std::uint32_t entry) noexcept {
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = home_of(tag);
    while (slots_[i] != 0) i = (i + 1) & mask;
    slots_[i] = (static_cast<std::uint64_t>(tag) << 32) | (entry + 1);
  }

  void grow() {
    const std::size_t count = slots_.empty() ? 16 : slots_.size() * 2;
    std::vector<std::uint64_t> old(count, 0);
    old.swap(slots_);
    for (const std::uint64_t slot : old) {
      if (slot != 0) place(slot_tag(slot), slot_entry(slot));
    }
    if (entries_.capacity() < count / 2) entries_.reserve(count / 2);
  }

  std::size_t find_slot_of_entry(std::uint32_t entry) const noexcept {
    const std::uint64_t hash = Hash{}(entries_[entry].first);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = home_of(tag_of(hash));; i = (i + 1) & mask) {
      if (slots_[i] != 0 && slot_entry(slots_[i]) == entry) return i;
    }
  }

  // Backward-shift deletion: later members of the probe run move up so that
  // every look-up still finds its entry.
  void clear_slot(std::size_t hole) noexcept {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t j = (hole + 1) & mask; slots_[j] != 0; j = (j + 1) & mask) {
      const std::size_t home = home_of(slot_tag(slots_[j]));
      const bool stays = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
      if (!stays) {
        slots_[hole] = slots_[j];
        hole = j;
      }
    }
    slots_[hole] = 0;
  }

  // Removes entry i; the last entry takes its place in the vector.
  void erase_entry(std::size_t i) {
    const auto entry = static_cast<std::uint32_t>(i);
    clear_slot(find_slot_of_entry(entry));
    const auto last = static_cast<std::uint32_t>(entries_.size() - 1);
    if (entry != last) {
      const std::size_t moved = find_slot_of_entry(last);
      slots_[moved] = (slots_[moved] & 0xFFFFFFFF00000000ULL) | (entry + 1);
      entries_[i] = std::move(entries_.back());
    }
    entries_.pop_back();
  }

  void remember(std::size_t entry) noexcept {
    older_hint_ = hint_;
    hint_ = entry;
  }

  std::vector<Entry> entries_;
  std::vector<std::uint64_t> slots_;
  // Indices of the entries found or inserted last and the one before; hints
  // only, checked before use.
  std::size_t hint_ = 0;
  std::size_t older_hint_ = 0;
};

}  // namespace mirrow
