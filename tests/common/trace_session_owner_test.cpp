#include "common/trace_session_owner.h"

#include <gtest/gtest.h>

namespace mirrow {
namespace {

constexpr std::u16string_view capture_name = u"VextrumMirrowNative-{00001002-2222-3333-4444-555555555555}";
constexpr std::u16string_view names_name = u"VextrumMirrowNames-{00001001-2222-3333-4444-555555555555}";

TEST(EngineSessionNames, are_those_that_start_with_either_prefix) {
  EXPECT_TRUE(is_engine_session_name(capture_name));
  EXPECT_TRUE(is_engine_session_name(names_name));
  // The bare prefixes and any suffix still count: the rule is the prefix alone.
  EXPECT_TRUE(is_engine_session_name(u"VextrumMirrowNative-"));
  EXPECT_TRUE(is_engine_session_name(u"VextrumMirrowNames-anything"));
}

TEST(EngineSessionNames, exclude_a_prefix_further_in_and_near_misses) {
  EXPECT_FALSE(is_engine_session_name(u"Copy of VextrumMirrowNative-{00001002-2222-3333-4444-555555555555}"));
  EXPECT_FALSE(is_engine_session_name(u" VextrumMirrowNames-x"));
  EXPECT_FALSE(is_engine_session_name(u"VextrumMirrowNative"));  // no dash
  EXPECT_FALSE(is_engine_session_name(u"VextrumMirrowName-x"));
  EXPECT_FALSE(is_engine_session_name(u"vextrummirrownative-x"));  // names are compared exactly
  EXPECT_FALSE(is_engine_session_name(u"Eventlog-Security"));
  EXPECT_FALSE(is_engine_session_name(u""));
}

TEST(OwnerMarkNames, put_the_session_name_in_the_global_then_the_local_namespace) {
  const OwnerMarkNames names = owner_mark_names(capture_name);
  EXPECT_EQ(names.global, u"Global\\VextrumMirrowNative-{00001002-2222-3333-4444-555555555555}");
  EXPECT_EQ(names.local, u"Local\\VextrumMirrowNative-{00001002-2222-3333-4444-555555555555}");
  EXPECT_EQ(owner_mark_names(names_name).global, u"Global\\VextrumMirrowNames-{00001001-2222-3333-4444-555555555555}");
}

TEST(MarkLookup, an_opened_or_refused_mark_shows_a_live_owner) {
  EXPECT_EQ(classify_mark_open(true, 0), MarkLookup::owner_alive);
  // Another account's engine holds a mark this process may not open.
  EXPECT_EQ(classify_mark_open(false, 5), MarkLookup::owner_alive);
}

TEST(MarkLookup, only_a_missing_name_shows_no_owner_and_other_failures_are_unclear) {
  EXPECT_EQ(classify_mark_open(false, 2), MarkLookup::absent);
  EXPECT_EQ(classify_mark_open(false, 3), MarkLookup::absent);
  EXPECT_EQ(classify_mark_open(false, 6), MarkLookup::unknown);    // another kind of object by that name
  EXPECT_EQ(classify_mark_open(false, 123), MarkLookup::unknown);  // a name the system refuses
  EXPECT_EQ(classify_mark_open(false, 0), MarkLookup::unknown);
}

TEST(MarkLookup, a_session_is_orphaned_only_when_both_namespaces_lack_its_mark) {
  EXPECT_TRUE(session_is_orphaned(MarkLookup::absent, MarkLookup::absent));
  for (const MarkLookup other : {MarkLookup::owner_alive, MarkLookup::unknown}) {
    EXPECT_FALSE(session_is_orphaned(other, MarkLookup::absent));
    EXPECT_FALSE(session_is_orphaned(MarkLookup::absent, other));
    EXPECT_FALSE(session_is_orphaned(other, other));
  }
}

}  // namespace
}  // namespace mirrow
