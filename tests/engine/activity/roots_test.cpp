#include "engine/activity/roots.h"

#include <gtest/gtest.h>

#include "common/paths.h"

namespace mirrow {
namespace {

std::vector<Root> roots_of(std::initializer_list<Root> list) { return std::vector<Root>(list); }

TEST(Classification, deepest_root_wins_unless_a_flagged_root_contains_the_path) {
  auto roots = roots_of({{1, u"c:\\data", false}, {2, u"c:\\data\\sub", false}});
  order_roots(roots);
  EXPECT_EQ(classify_uncached(u"c:\\data\\sub\\x", roots, {}), 2);
  EXPECT_EQ(classify_uncached(u"c:\\data\\y", roots, {}), 1);

  auto flagged = roots_of({{1, u"c:\\data", true}, {2, u"c:\\data\\sub", false}});
  order_roots(flagged);
  EXPECT_EQ(classify_uncached(u"c:\\data\\sub\\x", flagged, {}), 1);
  EXPECT_EQ(classify_uncached(u"c:\\data\\y", flagged, {}), 1);
}

TEST(Classification, exclusions_hide_whole_subtrees_only) {
  const auto roots = roots_of({{1, u"c:\\data", false}});
  const std::vector<std::u16string> exclusions{u"c:\\data\\tmp"};
  EXPECT_EQ(classify_uncached(u"c:\\data\\tmp", roots, exclusions), 0);
  EXPECT_EQ(classify_uncached(u"c:\\data\\tmp\\x", roots, exclusions), 0);
  EXPECT_EQ(classify_uncached(u"c:\\data\\tmpx", roots, exclusions), 1);
}

TEST(Classification, only_drive_and_network_paths_are_reported) {
  const auto roots = roots_of({{1, u"\\\\server\\share", false}, {2, u"\\device\\harddiskvolume9", false}});
  EXPECT_EQ(classify_uncached(u"\\\\server\\share\\x", roots, {}), 1);
  EXPECT_EQ(classify_uncached(u"\\device\\harddiskvolume9\\x", roots, {}), 0);
  EXPECT_EQ(classify_uncached(u"c:", roots, {}), 0);
}

TEST(ClassificationCache, forgets_everything_at_its_cap_and_on_clear) {
  auto roots = roots_of({{1, u"c:\\data", false}});
  ClassificationCache cache;
  for (std::size_t i = 0; i < ClassificationCache::capacity; ++i) {
    cache.classify(u"c:\\data\\" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)) +
                       std::u16string(i / 26 + 1, u'x'),
                   roots, {});
  }
  EXPECT_EQ(cache.size(), ClassificationCache::capacity);
  EXPECT_EQ(cache.classify(u"c:\\data\\new", roots, {}), 1);
  EXPECT_EQ(cache.size(), 1u);

  // A root added later must not be hidden by a cached 0.
  EXPECT_EQ(cache.classify(u"c:\\other\\x", roots, {}), 0);
  roots.push_back({7, u"c:\\other", false});
  cache.clear();
  EXPECT_EQ(cache.classify(u"c:\\other\\x", roots, {}), 7);
}

TEST(WatchedDirectories, nested_roots_share_a_watcher_and_siblings_get_their_own) {
  auto nested = roots_of({{1, u"c:\\a", false}, {2, u"c:\\a\\b", false}});
  order_roots(nested);
  EXPECT_EQ(choose_watched_directories(nested), std::vector<std::u16string>{u"c:\\a"});

  auto siblings = roots_of({{1, u"c:\\a", false}, {2, u"c:\\ab", false}});
  order_roots(siblings);
  EXPECT_EQ(choose_watched_directories(siblings).size(), 2u);

  // The same directory given twice is watched once, or every change would be
  // reported twice.
  auto twins = roots_of({{1, u"c:\\a", false}, {2, u"c:\\a", true}});
  order_roots(twins);
  EXPECT_EQ(choose_watched_directories(twins), std::vector<std::u16string>{u"c:\\a"});
}

TEST(WatchedDirectories, a_watched_directory_is_opened_by_the_first_spelling_of_its_roots) {
  const std::vector<Root> roots{{1, u"c:\\w\\x", false, u"C:\\w\\x"},
                                {2, u"c:\\w\\mixed", true, u"C:\\w\\Mixed"},
                                {3, u"c:\\w\\mixed", false, u"C:\\w\\mixed"}};
  EXPECT_EQ(root_spelling(roots, u"c:\\w\\mixed"), u"C:\\w\\Mixed");
  // A root made without a spelling is opened by its normalised path.
  EXPECT_EQ(root_spelling({{4, u"c:\\plain", false}}, u"c:\\plain"), u"c:\\plain");
}

}  // namespace
}  // namespace mirrow
