// The two fixed name lists: exact matches for user-facing applications,
// substrings anywhere for protected names.
#include <gtest/gtest.h>

#include "classifier/verdict.h"

namespace mirrow {
namespace {

std::u16string ascii_upper(std::u16string text) {
  for (char16_t& c : text) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  }
  return text;
}

TEST(KnownUserApps, all_thirteen_applications_match_in_any_letter_case) {
  for (const std::u16string name :
       {u"explorer.exe", u"steam.exe", u"chrome.exe", u"msedge.exe", u"firefox.exe", u"code.exe",
        u"devenv.exe", u"pycharm64.exe", u"idea64.exe", u"epicgameslauncher.exe",
        u"goggalaxy.exe", u"battle.net.exe", u"ubisoftconnect.exe"}) {
    EXPECT_TRUE(is_known_user_app(name)) << std::string(name.begin(), name.end());
    EXPECT_TRUE(is_known_user_app(ascii_upper(name)));
  }
  EXPECT_TRUE(is_known_user_app(u"EpicGamesLauncher.EXE"));
  EXPECT_TRUE(is_known_user_app(u"Battle.net.exe"));
}

TEST(KnownUserApps, names_are_matched_whole_not_by_substring) {
  EXPECT_FALSE(is_known_user_app(u"chrome"));
  EXPECT_FALSE(is_known_user_app(u"mychrome.exe"));
  EXPECT_FALSE(is_known_user_app(u"chrome.exe "));
  EXPECT_FALSE(is_known_user_app(u"C:\\Program Files\\Google\\chrome.exe"));
  EXPECT_FALSE(is_known_user_app(u""));
}

TEST(ProtectedNames, every_fragment_is_found_anywhere_in_the_name_in_any_letter_case) {
  for (const std::u16string fragment :
       {u"AntiCheat", u"BEService", u"BattlEye", u"FACEIT", u"MsMpEng", u"SecurityHealth",
        u"VGC.EXE", u"VgTray", u"Mirrow", u"RainbowSix", u"Fortnite", u"CS2.exe"}) {
    EXPECT_TRUE(has_protected_name_fragment(u"pre_" + fragment + u"_post"))
        << std::string(fragment.begin(), fragment.end());
  }
}

TEST(ProtectedNames, similar_names_without_a_whole_fragment_are_not_protected) {
  EXPECT_FALSE(has_protected_name_fragment(u"anti-cheat.exe"));
  EXPECT_FALSE(has_protected_name_fragment(u"cs2_server.exe"));
  EXPECT_FALSE(has_protected_name_fragment(u"vgc64.exe"));
  EXPECT_FALSE(has_protected_name_fragment(u"mirror.exe"));
  EXPECT_FALSE(has_protected_name_fragment(u""));
}

}  // namespace
}  // namespace mirrow
