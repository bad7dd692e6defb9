#include "engine/core/names.h"

#include <bit>
#include <cstring>
#include <new>

namespace mirrow {

namespace {

std::size_t block_bytes(std::size_t units) { return sizeof(Name) + units * sizeof(char16_t); }

}  // namespace

Name* Name::make(std::u16string_view path, std::uint64_t id, std::uint64_t hash, std::shared_ptr<Budget> budget) {
  // The text follows the name in the same block; a name's size is a multiple
  // of its alignment, so the units after it are aligned too.
  static_assert(sizeof(Name) % alignof(char16_t) == 0);
  const std::size_t bytes = block_bytes(path.size());
  void* block = budget ? budget->blocks.take(bytes) : ::operator new(bytes);
  Name* name = ::new (block) Name();
  char16_t* text = reinterpret_cast<char16_t*>(name + 1);
  if (!path.empty()) std::memcpy(text, path.data(), path.size() * sizeof(char16_t));
  name->path = std::u16string_view(text, path.size());
  name->id = id;
  name->hash = hash;
  name->charge = name_charge(path.size());
  name->budget = std::move(budget);
  if (name->budget) name->budget->bytes.fetch_add(name->charge, std::memory_order_relaxed);
  return name;
}

void Name::release() const noexcept {
  if (references_.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  Name* self = const_cast<Name*>(this);
  // The budget is held here until the block is back in its pool: this name
  // may hold the last reference to both.
  const std::shared_ptr<Budget> budget = std::move(self->budget);
  const std::size_t bytes = block_bytes(path.size());
  const std::uint64_t charge = self->charge;
  self->~Name();
  if (!budget) return ::operator delete(self);
  budget->bytes.fetch_sub(charge, std::memory_order_relaxed);
  budget->blocks.give(self, bytes);
}

namespace {

// Whether a new name still fits the shared budget: only twice the path length
// is tested, the 64 bytes of bookkeeping are charged on top once the name exists.
bool budget_admits(const Budget& budget, std::size_t units) {
  return budget.bytes.load(std::memory_order_relaxed) + 2 * static_cast<std::uint64_t>(units) <=
         NameTable::budget_limit;
}

NameRef new_name(NameTable& table, std::u16string_view path, std::uint64_t hash) {
  NameRef name = NameRef::make(path, table.next_name_id, hash, table.budget);
  ++table.next_name_id;
  return name;
}

// Looks up or adds a normalised path; place receives the name's place in
// the table (npos when the budget refused it).
NameRef intern_normalised(NameTable& table, Counters& counters, std::u16string_view path, std::size_t& place) {
  const std::uint64_t hash = path_hash(path);
  std::lock_guard lock(table.names_lock);
  place = table.name_table.position(path, hash);
  if (const NameRef* found = table.name_table.value_at(place)) return *found;
  if (table.name_table.size() >= NameTable::capacity) table.name_table.clear();
  if (!budget_admits(*table.budget, path.size())) {
    counters.add(Counter::dropped);
    table.budget_refusals.fetch_add(1, std::memory_order_relaxed);
    return {};
  }
  NameRef name = new_name(table, path, hash);
  table.name_table.emplace(std::u16string_view(name->path), hash, name);
  place = table.name_table.size() - 1;  // a new entry goes last
  return name;
}

void normalise_in_place(const NameTable& table, std::u16string& path) {
  // Both steps work on the same buffer, so a reused one never allocates.
  normalize_path_in_place(path);
  map_device_prefix_in_place(table.device_map, path);
}

// Fingerprint of a raw path: its length and its last sixteen units, where
// the paths of one tree differ. Its top bits choose the slot; the
// slot's own text settles every match, the fingerprint only spares reading
// that text when it cannot match.
std::uint64_t recent_fingerprint(std::u16string_view raw) {
  std::uint64_t h = (raw.size() + 1) * 0x9E3779B97F4A7C15ULL;
  if (raw.size() >= 16) {
    std::uint64_t tail[4];
    std::memcpy(tail, raw.data() + raw.size() - 16, sizeof tail);
    for (const std::uint64_t word : tail) h = (h ^ word) * 0xFF51AFD7ED558CCDULL;
  } else {
    h ^= path_hash(raw);
  }
  h ^= h >> 29;
  return h * 0xC4CEB9FE1A85EC53ULL;
}
// The slot is the fingerprint's top bits: as many as the slot count has.
static_assert(std::has_single_bit(RecentNames::slot_count) && RecentNames::slot_count >= 2);
constexpr int slot_shift = 64 - std::countr_zero(RecentNames::slot_count);

}  // namespace

RecentNames::Slot& RecentNames::slot_for(std::u16string_view raw, std::uint64_t& fingerprint) {
  if (slots_.empty()) slots_.resize(slot_count);
  fingerprint = recent_fingerprint(raw);
  return slots_[static_cast<std::size_t>(fingerprint >> slot_shift)];
}

NameRef intern_name(NameTable& names, Counters& counters, std::u16string raw_path) {
  return intern_name_in_place(names, counters, raw_path);
}

NameRef intern_name_in_place(NameTable& names, Counters& counters, std::u16string& path) {
  normalise_in_place(names, path);
  std::size_t place = 0;
  return intern_normalised(names, counters, path, place);
}

NameRef intern_event_name(NameTable& table, Counters& counters, RecentNames& recent, std::u16string& path) {
  if (path.size() > RecentNames::longest_remembered) return intern_name_in_place(table, counters, path);
  std::uint64_t fingerprint = 0;
  RecentNames::Slot& slot = recent.slot_for(path, fingerprint);
  if (slot.name_id != 0 && slot.fingerprint == fingerprint && PathEqual{}(slot.raw, path)) {
    std::lock_guard lock(table.names_lock);
    // The same id at the remembered place: the table still holds this very
    // name, which a look-up of the normalised path would find.
    const NameRef* held = table.name_table.value_at(slot.place);
    if (held != nullptr && (*held)->id == slot.name_id) return *held;
  }
  // Emptied first: the slot must never pair this text with another name,
  // even when what follows throws.
  slot.name_id = 0;
  slot.raw.assign(path);
  normalise_in_place(table, path);
  std::size_t place = 0;
  NameRef name = intern_normalised(table, counters, path, place);
  if (name) {
    slot.name_id = name->id;
    slot.place = place;
    slot.fingerprint = fingerprint;
  }
  return name;
}

void release_unreferenced_names(NameTable& table) {
  std::lock_guard lock(table.names_lock);
  // A name only the table holds can gain a reference only through
  // intern_name, which waits for this lock, so the count is settled here.
  // The names lie at random places, mostly out of the cache: the one a few
  // entries on is asked for while this one is looked at.
  auto& names = table.name_table;
  names.erase_if([&names](const auto& entry) {
    constexpr std::size_t ahead = 8;
    const std::size_t at = static_cast<std::size_t>(&entry - &*names.begin());
    if (at + ahead < names.size()) __builtin_prefetch((&entry + ahead)->second.get());
    return entry.second.use_count() == 1;
  });
}

}  // namespace mirrow
