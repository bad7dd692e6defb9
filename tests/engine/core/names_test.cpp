#include "engine/core/names.h"

#include <gtest/gtest.h>

#include "engine/api/engine_core.h"

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
  const NameRef first = intern_name(engine.names, engine.counters, u"C:\\Data\\A.txt");
  const NameRef second = intern_name(engine.names, engine.counters, u"c:\\data\\b.txt");
  EXPECT_EQ(first->id, 1u);
  EXPECT_EQ(second->id, 2u);
  EXPECT_EQ(intern_name(engine.names, engine.counters, u"c:/data/a.TXT"), first);
  EXPECT_EQ(first->path, u"c:\\data\\a.txt");
}

TEST(NameInterning, device_prefix_becomes_its_drive_only_on_a_whole_component) {
  EngineCore engine;
  engine.names.device_map = {{u"\\device\\harddiskvolume3", u"c:"}};
  EXPECT_EQ(intern_name(engine.names, engine.counters, u"\\Device\\HarddiskVolume3\\x")->path, u"c:\\x");
  EXPECT_EQ(intern_name(engine.names, engine.counters, u"\\device\\harddiskvolume30\\x")->path, u"\\device\\harddiskvolume30\\x");
}

TEST(NameInterning, a_name_charges_twice_its_units_plus_64_until_it_dies) {
  EngineCore engine;
  {
    const NameRef name = intern_name(engine.names, engine.counters, path_of_units(1000));
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
  const NameRef fits = intern_name(engine.names, engine.counters, path_of_units(1000, u'f'));
  ASSERT_TRUE(fits);  // total plus 2000 equals the limit exactly
  EXPECT_EQ(engine.counters.get(Counter::dropped), 0u);

  EXPECT_FALSE(intern_name(engine.names, engine.counters, u"c:\\x"));
  EXPECT_EQ(engine.counters.get(Counter::dropped), 1u);
  EXPECT_EQ(intern_name(engine.names, engine.counters, path_of_units(1000, u'f')), fits);  // known paths still resolve
  EXPECT_EQ(engine.names.next_name_id, 2u);
}

TEST(NameInterning, full_table_is_emptied_whole_and_old_names_stay_valid) {
  EngineCore engine;
  const NameRef early = intern_name(engine.names, engine.counters, numbered_path(0));
  for (std::size_t i = 1; i < NameTable::capacity; ++i) intern_name(engine.names, engine.counters, numbered_path(i));
  ASSERT_EQ(engine.names.name_table.size(), NameTable::capacity);

  const NameRef overflow = intern_name(engine.names, engine.counters, u"c:\\overflow");
  EXPECT_EQ(engine.names.name_table.size(), 1u);
  EXPECT_EQ(overflow->id, NameTable::capacity + 1);

  const NameRef again = intern_name(engine.names, engine.counters, numbered_path(0));
  EXPECT_NE(again, early);
  EXPECT_EQ(again->id, NameTable::capacity + 2);
  EXPECT_EQ(early->id, 1u);
  EXPECT_EQ(early->path, numbered_path(0));
}

TEST(NameInterning, release_drops_names_only_the_table_holds_and_ids_are_not_reused) {
  EngineCore engine;
  const NameRef kept = intern_name(engine.names, engine.counters, u"c:\\kept");
  intern_name(engine.names, engine.counters, path_of_units(100));
  EXPECT_EQ(engine.names.budget->bytes.load(), name_charge(7) + name_charge(100));

  release_unreferenced_names(engine.names);
  EXPECT_EQ(engine.names.name_table.size(), 1u);
  EXPECT_EQ(engine.names.budget->bytes.load(), name_charge(7));
  EXPECT_EQ(intern_name(engine.names, engine.counters, u"c:\\kept"), kept);
  EXPECT_EQ(intern_name(engine.names, engine.counters, path_of_units(100))->id, 3u);
}

TEST(NameInterning, a_name_outliving_its_engine_returns_its_charge_to_the_shared_budget) {
  NameRef survivor;
  std::shared_ptr<Budget> budget;
  {
    EngineCore engine;
    survivor = intern_name(engine.names, engine.counters, u"c:\\late");
    budget = engine.names.budget;
  }
  EXPECT_EQ(budget->bytes.load(), name_charge(7));
  survivor.reset();
  EXPECT_EQ(budget->bytes.load(), 0u);
}

// ---- names of events, remembered by their raw text ---------------------------

TEST(EventNames, a_repeated_raw_path_and_its_other_spellings_come_to_one_name) {
  EngineCore engine;
  engine.names.device_map = {{u"\\device\\harddiskvolume1", u"c:"}};
  RecentNames recent;
  std::u16string raw = u"\\Device\\HarddiskVolume1\\Build\\Src\\Unit00042.cpp";
  const NameRef first = intern_event_name(engine.names, engine.counters, recent, raw);
  EXPECT_EQ(first->path, u"c:\\build\\src\\unit00042.cpp");
  raw = u"\\Device\\HarddiskVolume1\\Build\\Src\\Unit00042.cpp";
  EXPECT_EQ(intern_event_name(engine.names, engine.counters, recent, raw), first);
  raw = u"\\device\\harddiskvolume1\\build\\src\\unit00042.CPP";
  EXPECT_EQ(intern_event_name(engine.names, engine.counters, recent, raw), first);
  EXPECT_EQ(intern_name(engine.names, engine.counters, u"C:\\Build\\Src\\Unit00042.cpp"), first);
}

TEST(EventNames, a_name_the_table_let_go_is_made_again_as_without_the_memory) {
  EngineCore engine;
  RecentNames recent;
  std::u16string raw = u"C:\\Data\\Kept\\Report.txt";
  const NameRef held = intern_event_name(engine.names, engine.counters, recent, raw);
  // Still alive here, but no longer in the table: a new name, as intern_name gives.
  engine.names.name_table.clear();
  raw = u"C:\\Data\\Kept\\Report.txt";
  const NameRef again = intern_event_name(engine.names, engine.counters, recent, raw);
  EXPECT_NE(again, held);
  EXPECT_EQ(again->id, 2u);
  EXPECT_EQ(intern_name(engine.names, engine.counters, u"c:\\data\\kept\\report.txt"), again);
  // Refused by a full budget once the table has forgotten it.
  engine.names.name_table.clear();
  engine.names.budget->bytes = NameTable::budget_limit;
  raw = u"C:\\Data\\Kept\\Report.txt";
  EXPECT_FALSE(intern_event_name(engine.names, engine.counters, recent, raw));
  EXPECT_EQ(engine.counters.get(Counter::dropped), 1u);
}

TEST(EventNames, a_raw_path_beyond_the_longest_remembered_is_interned_all_the_same) {
  EngineCore engine;
  RecentNames recent;
  std::u16string raw = path_of_units(RecentNames::longest_remembered + 1, u'L');
  const NameRef first = intern_event_name(engine.names, engine.counters, recent, raw);
  raw = path_of_units(RecentNames::longest_remembered + 1, u'L');
  EXPECT_EQ(intern_event_name(engine.names, engine.counters, recent, raw), first);
  EXPECT_EQ(first->path, path_of_units(RecentNames::longest_remembered + 1, u'l'));
  EXPECT_EQ(recent.slot_for(path_of_units(RecentNames::longest_remembered + 1, u'L')).name_id, 0u);
}

// Two engines see the same interning, releasing and emptying; one interns
// through the memory of raw paths, the other without it. Every name must
// come out with the same id and path in both, whatever the memory holds.
TEST(EventNames, the_memory_of_raw_paths_never_changes_a_name) {
  EngineCore remembering, plain;
  for (EngineCore* e : {&remembering, &plain}) e->names.device_map = {{u"\\device\\harddiskvolume1", u"c:"}};
  RecentNames recent;
  std::vector<NameRef> held_remembering, held_plain;
  std::uint64_t state = 11;
  const auto next = [&state](std::uint64_t bound) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return (state >> 33) % bound;
  };
  for (int step = 0; step < 20000; ++step) {
    const std::uint64_t dice = next(100);
    if (dice < 2) {
      release_unreferenced_names(remembering.names);
      release_unreferenced_names(plain.names);
    } else if (dice < 3) {
      remembering.names.name_table.clear();
      plain.names.name_table.clear();
    } else if (dice < 6) {
      held_remembering.clear();
      held_plain.clear();
    } else if (dice < 7) {
      const std::uint64_t bytes = next(2) == 0 ? NameTable::budget_limit : 0;
      remembering.names.budget->bytes = bytes + remembering.names.budget->bytes.load() % 4096;
      plain.names.budget->bytes = bytes + plain.names.budget->bytes.load() % 4096;
    } else {
      // Sixty files whose raw texts share their last sixteen units in pairs,
      // in either letter case, some in device form.
      const std::uint64_t file = next(60);
      std::u16string raw = next(2) ? u"\\Device\\HarddiskVolume1\\" : u"C:\\";
      raw += file % 2 ? u"Tree" : u"tree";
      raw += static_cast<char16_t>(u'a' + file / 2 % 26);
      raw += u"\\Folder\\Same Last Sixteen.txt";
      std::u16string copy = raw;
      const NameRef a = intern_event_name(remembering.names, remembering.counters, recent, raw);
      const NameRef b = intern_name_in_place(plain.names, plain.counters, copy);
      ASSERT_EQ(a == nullptr, b == nullptr) << "step " << step;
      if (a == nullptr) continue;
      ASSERT_EQ(a->id, b->id) << "step " << step;
      ASSERT_EQ(a->path, b->path) << "step " << step;
      if (next(3) == 0) {
        held_remembering.push_back(a);
        held_plain.push_back(b);
      }
    }
  }
  EXPECT_EQ(remembering.names.next_name_id, plain.names.next_name_id);
}

}  // namespace
}  // namespace mirrow
