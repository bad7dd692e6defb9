#include "engine/api/configuration.h"

#include <gtest/gtest.h>

#include "engine/api/engine_core.h"
#include "engine/core/names.h"

namespace mirrow {
namespace {

TEST(Configuration, roots_need_an_id_of_one_or_more_and_a_path) {
  EngineCore engine;
  EXPECT_EQ(add_root(engine, 0, u"c:\\x", false), result_invalid);
  EXPECT_EQ(add_root(engine, -5, u"c:\\x", false), result_invalid);
  EXPECT_EQ(add_root(engine, 1, nullptr, false), result_invalid);
  EXPECT_EQ(add_root(engine, 1, u"C:\\Data\\", true), result_ok);
  EXPECT_EQ(add_root(engine, 1, u"c:\\other", false), result_ok);
  ASSERT_EQ(engine.root_set.roots.size(), 2u);
  EXPECT_EQ(engine.root_set.roots[0].path, u"c:\\data");
  EXPECT_TRUE(engine.root_set.roots[0].flag);
  EXPECT_EQ(add_exclusion(engine, nullptr), result_invalid);
}

TEST(Configuration, a_root_keeps_the_hosts_spelling_and_roots_alike_share_the_first) {
  EngineCore engine;
  ASSERT_EQ(add_root(engine, 1, u"C:/Work/Mixed/", false), result_ok);
  ASSERT_EQ(add_root(engine, 2, u"c:\\work\\MIXED", true), result_ok);
  ASSERT_EQ(add_root(engine, 3, u"\\\\?\\C:\\Work\\mixed\\Sub", false), result_ok);
  ASSERT_EQ(engine.root_set.roots.size(), 3u);
  EXPECT_EQ(engine.root_set.roots[0].path, u"c:\\work\\mixed");
  EXPECT_EQ(engine.root_set.roots[0].spelling, u"C:\\Work\\Mixed");
  EXPECT_EQ(engine.root_set.roots[1].path, u"c:\\work\\mixed");
  EXPECT_EQ(engine.root_set.roots[1].spelling, u"C:\\Work\\Mixed");
  EXPECT_EQ(engine.root_set.roots[2].spelling, u"C:\\Work\\mixed\\Sub");
  // The flagged twin goes first at a start; the directory keeps the first spelling.
  prepare_roots_for_start(engine.root_set);
  EXPECT_EQ(root_spelling(engine.root_set.roots, u"c:\\work\\mixed"), u"C:\\Work\\Mixed");
}

TEST(Configuration, roots_and_exclusions_are_refused_while_running) {
  EngineCore engine;
  engine.running = true;
  EXPECT_EQ(add_root(engine, 1, u"c:\\x", false), result_invalid);
  EXPECT_EQ(add_exclusion(engine, u"c:\\x"), result_invalid);
  EXPECT_TRUE(engine.root_set.roots.empty());
  EXPECT_TRUE(engine.root_set.exclusions.empty());
}

TEST(Configuration, an_exclusion_added_after_classification_takes_effect) {
  EngineCore engine;
  ASSERT_EQ(add_root(engine, 3, u"c:\\data", false), result_ok);
  EXPECT_EQ(classify_path(engine.root_set, u"c:\\data\\tmp\\x"), 3);
  ASSERT_EQ(add_exclusion(engine, u"C:/Data/Tmp"), result_ok);
  EXPECT_EQ(classify_path(engine.root_set, u"c:\\data\\tmp\\x"), 0);
}

TEST(Configuration, starting_reorders_roots_and_forgets_cached_results) {
  EngineCore engine;
  ASSERT_EQ(add_root(engine, 1, u"c:\\data", false), result_ok);
  ASSERT_EQ(add_root(engine, 2, u"c:\\data\\sub", false), result_ok);
  // Before the first start roots keep the order added.
  EXPECT_EQ(classify_path(engine.root_set, u"c:\\data\\sub\\x"), 1);
  prepare_roots_for_start(engine.root_set);
  EXPECT_EQ(classify_path(engine.root_set, u"c:\\data\\sub\\x"), 2);
}

TEST(Configuration, a_name_remembers_its_root_only_until_the_configuration_changes) {
  EngineCore engine;
  ASSERT_EQ(add_root(engine, 1, u"c:\\data", false), result_ok);
  ASSERT_EQ(add_root(engine, 2, u"c:\\data\\sub", false), result_ok);
  const NameRef name = intern_name(engine.names, engine.counters, u"C:\\Data\\Sub\\x.txt");
  ASSERT_TRUE(name);
  EXPECT_EQ(classify_name(engine.root_set, *name), 1);
  EXPECT_EQ(classify_name(engine.root_set, *name), 1);
  prepare_roots_for_start(engine.root_set);
  EXPECT_EQ(classify_name(engine.root_set, *name), 2);
  ASSERT_EQ(add_exclusion(engine, u"c:\\data\\sub"), result_ok);
  EXPECT_EQ(classify_name(engine.root_set, *name), 0);
  EXPECT_EQ(classify_name(engine.root_set, *name), classify_path(engine.root_set, name->path));
}

TEST(Configuration, missing_set_keeps_one_member_per_normalised_path) {
  EngineCore engine;
  add_missing(engine.missing_paths, u"C:\\Wait\\File.txt");
  add_missing(engine.missing_paths, u"c:/wait/file.txt");
  EXPECT_EQ(engine.missing_paths.missing.size(), 1u);
  EXPECT_TRUE(is_missing(engine.missing_paths, u"c:\\wait\\file.txt"));
  EXPECT_THROW(add_missing(engine.missing_paths, nullptr), std::exception);
  clear_missing(engine.missing_paths);
  clear_missing(engine.missing_paths);
  EXPECT_FALSE(is_missing(engine.missing_paths, u"c:\\wait\\file.txt"));
}

TEST(Configuration, probe_is_normalised_and_every_set_clears_the_seen_flag) {
  EngineCore engine;
  engine.probe.probe_seen = true;
  set_probe(engine.probe, u"C:\\Probe.TXT");
  EXPECT_EQ(engine.probe.probe_path, u"c:\\probe.txt");
  EXPECT_FALSE(engine.probe.probe_seen);
  engine.probe.probe_seen = true;
  set_probe(engine.probe, nullptr);
  EXPECT_EQ(engine.probe.probe_path, u"");
  EXPECT_FALSE(engine.probe.probe_seen);
}

}  // namespace
}  // namespace mirrow
