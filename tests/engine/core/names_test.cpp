#include "engine/core/names.h"

#include <gtest/gtest.h>

#include "engine/core/engine_core.h"

namespace mirrow {
namespace {

std::u16string path_of_units(std::size_t units, char16_t fill = u'a') {
  std::u16string p = u"c:\\";
  p.append(units - p.size(), fill);
  return p;
}

std::u16string numbered_path(std::size_t i) {
  std::u16string p = u"c:\\n";
  for (char c : std::to_string(i)) p += static_cast<char16_t>(c);
  return p;
}

TEST(NameInterning, first_path_gets_id_one_and_the_same_name_again) {
  EngineCore engine;
  const NameRef first = intern_name(engine, u"C:\\Data\\A.txt");
  const NameRef second = intern_name(engine, u"c:\\data\\b.txt");
  EXPECT_EQ(first->id, 1u);
  EXPECT_EQ(second->id, 2u);
  EXPECT_EQ(intern_name(engine, u"c:/data/a.TXT"), first);
  EXPECT_EQ(first->path, u"c:\\data\\a.txt");
}

TEST(NameInterning, device_prefix_becomes_its_drive_only_on_a_whole_component) {
  EngineCore engine;
  engine.device_map = {{u"\\device\\harddiskvolume3", u"c:"}};
  EXPECT_EQ(intern_name(engine, u"\\Device\\HarddiskVolume3\\x")->path, u"c:\\x");
  EXPECT_EQ(intern_name(engine, u"\\device\\harddiskvolume30\\x")->path, u"\\device\\harddiskvolume30\\x");
}

TEST(NameInterning, a_name_charges_twice_its_units_plus_64_until_it_dies) {
  EngineCore engine;
  {
    const NameRef name = intern_name(engine, path_of_units(1000));
    EXPECT_EQ(name->charge, 2064u);
    EXPECT_EQ(engine.names.budget->bytes.load(), 2064u);
    engine.names.name_table.clear();
    EXPECT_EQ(engine.names.budget->bytes.load(), 2064u);  // still held here
  }
  EXPECT_EQ(engine.names.budget->bytes.load(), 0u);
}

TEST(NameInterning, budget_tests_twice_the_length_and_refuses_beyond_32_mib) {
  EngineCore engine;
  engine.names.budget->bytes = NameTable::budget_limit - 2000;
  const NameRef fits = intern_name(engine, path_of_units(1000, u'f'));
  ASSERT_TRUE(fits);  // total plus 2000 equals the limit exactly
  EXPECT_EQ(engine.counters.get(Counter::dropped), 0u);

  EXPECT_FALSE(intern_name(engine, u"c:\\x"));
  EXPECT_EQ(engine.counters.get(Counter::dropped), 1u);
  EXPECT_EQ(intern_name(engine, path_of_units(1000, u'f')), fits);  // known paths still resolve
  EXPECT_EQ(engine.names.next_name_id, 2u);
}

TEST(NameInterning, full_table_is_emptied_whole_and_old_names_stay_valid) {
  EngineCore engine;
  const NameRef early = intern_name(engine, numbered_path(0));
  for (std::size_t i = 1; i < NameTable::capacity; ++i) intern_name(engine, numbered_path(i));
  ASSERT_EQ(engine.names.name_table.size(), NameTable::capacity);

  const NameRef overflow = intern_name(engine, u"c:\\overflow");
  EXPECT_EQ(engine.names.name_table.size(), 1u);
  EXPECT_EQ(overflow->id, NameTable::capacity + 1);

  const NameRef again = intern_name(engine, numbered_path(0));
  EXPECT_NE(again, early);
  EXPECT_EQ(again->id, NameTable::capacity + 2);
  EXPECT_EQ(early->id, 1u);
  EXPECT_EQ(early->path, numbered_path(0));
}

TEST(NameInterning, release_drops_names_only_the_table_holds_and_ids_are_not_reused) {
  EngineCore engine;
  const NameRef kept = intern_name(engine, u"c:\\kept");
  intern_name(engine, path_of_units(100));
  EXPECT_EQ(engine.names.budget->bytes.load(), name_charge(7) + name_charge(100));

  release_unreferenced_names(engine);
  EXPECT_EQ(engine.names.name_table.size(), 1u);
  EXPECT_EQ(engine.names.budget->bytes.load(), name_charge(7));
  EXPECT_EQ(intern_name(engine, u"c:\\kept"), kept);
  EXPECT_EQ(intern_name(engine, path_of_units(100))->id, 3u);
}

TEST(NameInterning, a_name_outliving_its_engine_returns_its_charge_to_the_shared_budget) {
  NameRef survivor;
  std::shared_ptr<Budget> budget;
  {
    EngineCore engine;
    survivor = intern_name(engine, u"c:\\late");
    budget = engine.names.budget;
  }
  EXPECT_EQ(budget->bytes.load(), name_charge(7));
  survivor.reset();
  EXPECT_EQ(budget->bytes.load(), 0u);
}

}  // namespace
}  // namespace mirrow
