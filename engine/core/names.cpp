#include "engine/core/names.h"

#include <cstring>

#include "engine/core/engine_core.h"

namespace mirrow {

Name::~Name() {
  if (budget) budget->bytes.fetch_sub(charge, std::memory_order_relaxed);
}

namespace {

// Whether a new name still fits the shared budget: only twice the path length
// is tested, the 64 bytes of bookkeeping are charged on top once the name exists.
bool budget_admits(const Budget& budget, std::size_t units) {
  return budget.bytes.load(std::memory_order_relaxed) + 2 * static_cast<std::uint64_t>(units) <=
         NameTable::budget_limit;
}

NameRef new_name(NameTable& table, std::u16string_view path, std::uint64_t hash) {
  auto name = std::make_shared<Name>();
  name->id = table.next_name_id;
  name->path = path;
  name->hash = hash;
  name->budget = table.budget;
  // Charged only once the object exists, so a failed allocation never
  // subtracts what was not added.
  name->charge = name_charge(name->path.size());
  table.budget->bytes.fetch_add(name->charge, std::memory_order_relaxed);
  ++table.next_name_id;
  return name;
}

}  // namespace

namespace {

// Looks up or adds a normalised path; place receives the name's place in
// the table (npos when the budget refused it).
NameRef intern_normalised(EngineCore& engine, std::u16string_view path, std::size_t& place) {
  const std::uint64_t hash = path_hash(path);
  NameTable& table = engine.names;
  std::lock_guard lock(table.names_lock);
  place = table.name_table.position(path, hash);
  if (const NameRef* found = table.name_table.value_at(place)) return *found;
  if (table.name_table.size() >= NameTable::capacity) table.name_table.clear();
  if (!budget_admits(*table.budget, path.size())) {
    engine.counters.add(Counter::dropped);
    table.budget_refusals.fetch_add(1, std::memory_order_relaxed);
    return {};
  }
  NameRef name = new_name(table, path, hash);
  table.name_table.emplace(std::u16string_view(name->path), hash, name);
  place = table.name_table.size() - 1;  // a new entry goes last
  return name;
}

void normalise_in_place(const EngineCore& engine, std::u16string& path) {
  // Both steps hand the same buffer back, so a reused one never allocates.
  path = map_device_prefix(engine.device_map, normalize_path(std::move(path)));
}

// Slot of a raw path: its length and its last sixteen units, where the
// paths of one tree differ; the slot's own text settles every match.
std::size_t recent_slot(std::u16string_view raw) {
  std::uint64_t h = (raw.size() + 1) * 0x9E3779B97F4A7C15ULL;
  if (raw.size() >= 16) {
    std::uint64_t tail[4];
    std::memcpy(tail, raw.data() + raw.size() - 16, sizeof tail);
    for (const std::uint64_t word : tail) h = (h ^ word) * 0xFF51AFD7ED558CCDULL;
  } else {
    h ^= path_hash(raw);
  }
  h ^= h >> 29;
  return static_cast<std::size_t>(h * 0xC4CEB9FE1A85EC53ULL >> 52);  // 12 bits: 4096 slots
}
static_assert(RecentNames::slot_count == 4096);

}  // namespace

RecentNames::Slot& RecentNames::slot_for(std::u16string_view raw) {
  if (slots_.empty()) slots_.resize(slot_count);
  return slots_[recent_slot(raw)];
}

NameRef intern_name(EngineCore& engine, std::u16string raw_path) { return intern_name_in_place(engine, raw_path); }

NameRef intern_name_in_place(EngineCore& engine, std::u16string& path) {
  normalise_in_place(engine, path);
  std::size_t place = 0;
  return intern_normalised(engine, path, place);
}

NameRef intern_event_name(EngineCore& engine, RecentNames& recent, std::u16string& path) {
  if (path.size() > RecentNames::longest_remembered) return intern_name_in_place(engine, path);
  RecentNames::Slot& slot = recent.slot_for(path);
  if (slot.name_id != 0 && PathEqual{}(slot.raw, path)) {
    NameTable& table = engine.names;
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
  normalise_in_place(engine, path);
  std::size_t place = 0;
  NameRef name = intern_normalised(engine, path, place);
  if (name) {
    slot.name_id = name->id;
    slot.place = place;
  }
  return name;
}

void release_unreferenced_names(EngineCore& engine) {
  NameTable& table = engine.names;
  std::lock_guard lock(table.names_lock);
  // A name only the table holds can gain a reference only through
  // intern_name, which waits for this lock, so the count is settled here.
  table.name_table.erase_if([](const auto& entry) { return entry.second.use_count() == 1; });
}

}  // namespace mirrow
