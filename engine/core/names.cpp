#include "engine/core/names.h"

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

NameRef intern_name(EngineCore& engine, std::u16string raw_path) { return intern_name_in_place(engine, raw_path); }

NameRef intern_name_in_place(EngineCore& engine, std::u16string& path) {
  // Both steps hand the same buffer back, so a reused one never allocates.
  path = map_device_prefix(engine.device_map, normalize_path(std::move(path)));
  const std::u16string_view view(path);
  const std::uint64_t hash = path_hash(view);
  NameTable& table = engine.names;
  std::lock_guard lock(table.names_lock);
  if (const NameRef* found = table.name_table.find(view, hash)) return *found;
  if (table.name_table.size() >= NameTable::capacity) table.name_table.clear();
  if (!budget_admits(*table.budget, path.size())) {
    engine.counters.add(Counter::dropped);
    table.budget_refusals.fetch_add(1, std::memory_order_relaxed);
    return {};
  }
  NameRef name = new_name(table, view, hash);
  table.name_table.emplace(std::u16string_view(name->path), hash, name);
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
