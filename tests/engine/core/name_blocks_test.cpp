#include "engine/core/name_blocks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/api/engine_core.h"
#include "engine/core/names.h"

namespace mirrow {
namespace {

TEST(NameBlocks, a_block_given_back_serves_the_next_request_of_its_size_class) {
  NameBlocks blocks;
  void* first = blocks.take(130);
  std::memset(first, 0xAB, 130);
  blocks.give(first, 130);
  EXPECT_EQ(blocks.kept_bytes(), 160u);
  EXPECT_EQ(blocks.take(150), first);  // 150 rounds to the same 160 bytes
  EXPECT_EQ(blocks.kept_bytes(), 0u);
  void* other = blocks.take(170);  // the next class: a block of its own
  EXPECT_NE(other, first);
  blocks.give(first, 150);
  blocks.give(other, 170);
}

TEST(NameBlocks, keeps_no_large_block_and_never_more_than_its_limit) {
  NameBlocks blocks;
  blocks.give(blocks.take(NameBlocks::largest_kept + 1), NameBlocks::largest_kept + 1);
  EXPECT_EQ(blocks.kept_bytes(), 0u);

  std::vector<void*> taken;
  const std::size_t count = NameBlocks::kept_limit / NameBlocks::largest_kept + 10;
  for (std::size_t i = 0; i < count; ++i) taken.push_back(blocks.take(NameBlocks::largest_kept));
  for (void* block : taken) blocks.give(block, NameBlocks::largest_kept);
  EXPECT_EQ(blocks.kept_bytes(), NameBlocks::kept_limit);
}  // the destructor frees what is kept; the sanitizers see a leak otherwise

TEST(NameRefs, copies_share_one_count_and_a_moved_reference_is_empty) {
  EngineCore engine;
  NameRef a = intern_name(engine.names, engine.counters, u"c:\\shared");
  const std::uint32_t with_table = a.use_count();  // the table holds one
  NameRef b = a;
  EXPECT_EQ(a.use_count(), with_table + 1);
  EXPECT_EQ(b, a);
  NameRef c = std::move(b);
  EXPECT_FALSE(b);
  EXPECT_EQ(b.use_count(), 0u);
  EXPECT_EQ(a.use_count(), with_table + 1);
  NameRef& same = c;
  c = same;  // self-assignment keeps the name alive
  EXPECT_EQ(c->path, u"c:\\shared");
  c = std::move(same);
  EXPECT_EQ(c, a);
  c = NameRef{};
  EXPECT_EQ(a.use_count(), with_table);
  EXPECT_EQ(c, nullptr);
}

TEST(NameRefs, a_dead_name_block_carries_the_next_new_name_with_its_own_text) {
  EngineCore engine;
  const Name* old_block = nullptr;
  {
    NameRef old_name = intern_name(engine.names, engine.counters, u"c:\\data\\old-name.txt");
    old_block = old_name.get();
    engine.names.name_table.clear();
  }
  EXPECT_EQ(engine.names.budget->bytes.load(), 0u);
  const NameRef fresh = intern_name(engine.names, engine.counters, u"c:\\data\\new-name.txt");
  EXPECT_EQ(fresh.get(), old_block);
  EXPECT_EQ(fresh->path, u"c:\\data\\new-name.txt");
  EXPECT_EQ(fresh->id, 2u);
  EXPECT_EQ(fresh->charge, name_charge(fresh->path.size()));
}

}  // namespace
}  // namespace mirrow
