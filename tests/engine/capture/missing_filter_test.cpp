#include "engine/capture/missing_filter.h"

#include <gtest/gtest.h>

#include <random>

#include "common/paths.h"

namespace mirrow {
namespace {

TEST(MissingFilter, every_added_hash_is_let_through_and_few_others_are) {
  MissingFilter filter;
  std::mt19937_64 random(7);
  EXPECT_FALSE(filter.may_contain(random()));  // nothing added: no storage, no yes

  std::vector<std::uint64_t> added;
  for (int i = 0; i < 40000; ++i) added.push_back(path_hash(u"c:\\watched\\" + std::u16string(1, char16_t(i))));
  for (int i = 0; i < 40000; ++i) added.push_back(random());
  for (std::uint64_t hash : added) filter.add(hash);
  for (std::uint64_t hash : added) ASSERT_TRUE(filter.may_contain(hash)) << hash;

  int false_yes = 0;
  for (int i = 0; i < 100000; ++i) false_yes += filter.may_contain(random()) ? 1 : 0;
  EXPECT_LT(false_yes, 100000 / 10);  // about 7 % at 80,000 paths
}

TEST(MissingFilter, clearing_forgets_every_hash_until_it_is_added_again) {
  MissingFilter filter;
  const std::uint64_t a = path_hash(u"c:\\a");
  const std::uint64_t b = path_hash(u"c:\\b");
  filter.add(a);
  filter.clear();
  EXPECT_FALSE(filter.may_contain(a));
  filter.add(b);
  EXPECT_TRUE(filter.may_contain(b));
  EXPECT_FALSE(filter.may_contain(a));
}

}  // namespace
}  // namespace mirrow
