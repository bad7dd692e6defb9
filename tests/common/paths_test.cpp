#include "common/paths.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "common/lowercase.h"

namespace mirrow {
namespace {

TEST(NormalizePath, folds_prefixes_separators_case_and_trailing_backslashes) {
  const struct {
    std::u16string in;
    std::u16string out;
  } cases[] = {
      {u"C:/Data/Report.TXT", u"c:\\data\\report.txt"},
      {u"\\\\?\\C:\\Data\\", u"c:\\data"},
      {u"\\\\?\\UNC\\Server\\Share\\X", u"\\\\server\\share\\x"},
      {u"\\??\\C:\\x", u"c:\\x"},
      {u"C:\\", u"c:\\"},
      {u"C:\\\\\\", u"c:\\"},
      {u"\\\\?\\unc\\server\\x", u"unc\\server\\x"},
      {u"", u""},
      {u"\\", u"\\"},
      {u"\\\\?\\UNC\\", u"\\\\"},
      {u"C:\\\u00dcN\u00cf\\\u0416", u"c:\\\u00fcn\u00ef\\\u0436"},
  };
  for (const auto& c : cases) EXPECT_EQ(normalize_path(c.in), c.out) << std::string(c.in.begin(), c.in.end());
}

TEST(SpellPath, keeps_the_callers_letter_case_and_otherwise_normalises) {
  const struct {
    std::u16string in;
    std::u16string out;
  } cases[] = {
      {u"C:/Data/Report.TXT", u"C:\\Data\\Report.TXT"},
      {u"\\\\?\\C:\\Data\\", u"C:\\Data"},
      {u"\\\\?\\UNC\\Server\\Share\\X", u"\\\\Server\\Share\\X"},
      {u"\\??\\\\\\?\\C:\\Mixed\\\\", u"C:\\Mixed"},
      {u"C:\\", u"C:\\"},
      {u"C:\\\u00dcN\u00cf\\\u0416", u"C:\\\u00dcN\u00cf\\\u0416"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(spell_path(c.in), c.out) << std::string(c.in.begin(), c.in.end());
    EXPECT_EQ(normalize_path(spell_path(c.in)), normalize_path(c.in)) << std::string(c.in.begin(), c.in.end());
  }
}

TEST(NormalizePath, removes_nested_prefixes_so_that_normalising_again_changes_nothing) {
  const std::u16string nested[] = {u"\\??\\\\??\\C:\\x", u"\\\\?\\\\??\\C:\\x", u"//?/\\??\\C:/x"};
  for (const auto& in : nested) {
    const std::u16string once = normalize_path(in);
    EXPECT_EQ(once, u"c:\\x") << std::string(in.begin(), in.end());
    EXPECT_EQ(normalize_path(once), once);
  }
}

// The rule spelled out step by step: every separator first, then the
// prefixes, then case through the platform's rules for the whole text, then
// the trailing back-slashes.
std::u16string normalized_step_by_step(std::u16string p) {
  for (char16_t& unit : p) {
    if (unit == u'/') unit = u'\\';
  }
  for (;;) {
    const std::u16string_view view(p);
    if (view.starts_with(u"\\??\\")) p.erase(0, 4);
    else if (view.starts_with(u"\\\\?\\UNC\\")) p.replace(0, 8, u"\\\\");
    else if (view.starts_with(u"\\\\?\\")) p.erase(0, 4);
    else break;
  }
  if (!p.empty()) lower_in_place(p.data(), p.size());
  while (p.size() > 3 && p.back() == u'\\') p.pop_back();
  return p;
}

TEST(NormalizePath, one_pass_gives_what_the_rule_gives_step_by_step) {
  // Texts of units that matter to the rule: separators, prefix parts,
  // upper and lower case, and letters outside ASCII at any position.
  const char16_t alphabet[] = u"\\/?.:UNCunc\u00c9\u00e9\u0416Zz1";
  std::uint64_t state = 12345;
  for (int round = 0; round < 20000; ++round) {
    std::u16string text;
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    const std::size_t length = (state >> 33) % 24;
    for (std::size_t i = 0; i < length; ++i) {
      state = state * 6364136223846793005ULL + 1442695040888963407ULL;
      text += alphabet[(state >> 33) % (sizeof alphabet / sizeof alphabet[0] - 1)];
    }
    ASSERT_EQ(normalize_path(text), normalized_step_by_step(text)) << round;
    // The spelling handed to the system differs from it in letter case only.
    ASSERT_EQ(normalize_path(spell_path(text)), normalize_path(text)) << round;
  }
  // A prefix spelled with forward slashes behind another one.
  EXPECT_EQ(normalize_path(u"\\??\\//?/UNC/Server/X/"), u"\\\\server\\x");
  EXPECT_EQ(normalize_path(u"C:/Donn\u00C9es/R\u00C9/A/B/"), u"c:\\donn\u00e9es\\r\u00e9\\a\\b");
}

TEST(IsUnder, matches_whole_components_only) {
  EXPECT_TRUE(is_under(u"c:\\data", u"c:\\data"));
  EXPECT_TRUE(is_under(u"c:\\data", u"c:\\"));
  EXPECT_TRUE(is_under(u"c:\\data\\x", u"c:\\data"));
  EXPECT_FALSE(is_under(u"c:\\database", u"c:\\data"));
  EXPECT_FALSE(is_under(u"c:\\da", u"c:\\data"));
  EXPECT_FALSE(is_under(u"c:\\data", u""));
  EXPECT_FALSE(is_under(u"", u""));
}

TEST(LongPathForm, prefixes_drive_and_network_paths) {
  EXPECT_EQ(long_path_form(u"c:\\data"), u"\\\\?\\c:\\data");
  EXPECT_EQ(long_path_form(u"\\\\server\\share\\x"), u"\\\\?\\UNC\\server\\share\\x");
}

TEST(LongPathRefusal, only_whole_drive_network_and_volume_paths_below_the_limit_reach_the_system) {
  for (const char16_t* fine : {u"c:\\", u"c:\\dir\\file.txt", u"\\\\server\\share\\dir",
                               u"volume{0a1b2c3d-0000-0000-0000-000000000000}\\dir"})
    EXPECT_EQ(long_path_refusal(fine), 0u) << std::u16string_view(fine).size();
  for (const char16_t* not_one_place : {u"", u".", u"..", u"nul", u"c:", u"dir\\file", u"c:\\a\\..\\b",
                                        u"c:\\a\\.\\b", u"c:\\a\\\\b", u"\\\\", u"\\\\server\\\\share",
                                        u"volume{x"})
    EXPECT_EQ(long_path_refusal(not_one_place), 123u) << std::u16string_view(not_one_place).size();

  // \\?\ adds 4 units to a drive path and \\?\UNC\ 6 to a network path; the
  // long form must stay below 32767 units with room for the NUL.
  const std::u16string drive_path = u"c:\\" + std::u16string(32762 - 3, u'a');
  EXPECT_EQ(long_path_refusal(drive_path), 0u);
  EXPECT_EQ(long_path_refusal(drive_path, 1), 206u);
  EXPECT_EQ(long_path_refusal(drive_path + u"b"), 206u);
  const std::u16string network_path = u"\\\\s\\" + std::u16string(32760 - 4, u'a');
  EXPECT_EQ(long_path_refusal(network_path), 0u);
  EXPECT_EQ(long_path_refusal(network_path + u"b"), 206u);
}

TEST(DeviceMap, longest_device_prefix_wins_and_unmapped_paths_stay) {
  DeviceMap map = build_device_map([](const char16_t* drive) -> std::u16string {
    if (drive[0] == u'C') return u"\\Device\\HarddiskVolume1";
    if (drive[0] == u'D') return u"\\Device\\HarddiskVolume10";
    return {};
  });
  ASSERT_EQ(map.size(), 2u);
  EXPECT_EQ(map[0].device, u"\\device\\harddiskvolume10");
  EXPECT_EQ(map[0].drive, u"d:");
  EXPECT_EQ(map_device_prefix(map, u"\\device\\harddiskvolume1\\users\\a.txt"), u"c:\\users\\a.txt");
  EXPECT_EQ(map_device_prefix(map, u"\\device\\harddiskvolume10\\x"), u"d:\\x");
  // The volume's root folder is the drive's root, as a root names it.
  EXPECT_EQ(map_device_prefix(map, u"\\device\\harddiskvolume1"), u"c:\\");
  EXPECT_TRUE(is_under(map_device_prefix(map, u"\\device\\harddiskvolume1"), normalize_path(u"C:\\")));
  EXPECT_EQ(map_device_prefix(map, u"\\device\\harddiskvolume9\\x"), u"\\device\\harddiskvolume9\\x");
}

TEST(DeviceMap, a_subst_drive_does_not_rewrite_paths_below_its_target) {
  DeviceMap map = build_device_map([](const char16_t* drive) -> std::u16string {
    if (drive[0] == u'C') return u"\\Device\\HarddiskVolume1";
    if (drive[0] == u'S') return u"\\??\\C:\\Work";
    if (drive[0] == u'T') return u"\\??\\UNC\\server\\share";
    if (drive[0] == u'Z') return u"\\Device\\LanmanRedirector\\;Z:0000000000012345\\server\\share";
    return {};
  });
  ASSERT_EQ(map.size(), 2u);
  // A change the watcher saw and the same file as a kernel event name one path.
  EXPECT_EQ(map_device_prefix(map, u"c:\\work\\a.txt"), u"c:\\work\\a.txt");
  EXPECT_EQ(map_device_prefix(map, u"\\device\\harddiskvolume1\\work\\a.txt"), u"c:\\work\\a.txt");
  EXPECT_EQ(map_device_prefix(map, u"\\device\\lanmanredirector\\;z:0000000000012345\\server\\share\\b"),
            u"z:\\b");
}

TEST(DeviceMap, the_network_redirectors_forms_are_network_paths_unless_a_mapped_drive_names_them) {
  DeviceMap map = build_device_map([](const char16_t* drive) -> std::u16string {
    if (drive[0] == u'C') return u"\\Device\\HarddiskVolume1";
    if (drive[0] == u'Z') return u"\\Device\\LanmanRedirector\\;Z:0000000000012345\\server\\share";
    return {};
  });
  const std::pair<std::u16string_view, std::u16string_view> rows[] = {
      {u"\\device\\mup\\server\\share\\x.txt", u"\\\\server\\share\\x.txt"},
      {u"\\device\\mup\\;lanmanredirector\\;z:0000000000020d40\\server\\share\\x", u"\\\\server\\share\\x"},
      {u"\\device\\mup\\dfsclient\\;z:0000000000020d40\\clrmain\\public\\x", u"\\\\clrmain\\public\\x"},
      {u"\\device\\lanmanredirector\\;y:0000000000012345\\other\\docs", u"\\\\other\\docs"},
      {u"\\device\\lanmanredirector\\other\\docs\\a", u"\\\\other\\docs\\a"},
      {u"\\device\\mup\\;rdpdr\\;:1\\tsclient\\c\\a", u"\\\\tsclient\\c\\a"},
      // The drive the map knows keeps its letter.
      {u"\\device\\lanmanredirector\\;z:0000000000012345\\server\\share\\b", u"z:\\b"},
      // The redirector alone, or a device that only starts like one, stays.
      {u"\\device\\mup", u"\\device\\mup"},
      {u"\\device\\mup\\;lanmanredirector", u"\\device\\mup\\;lanmanredirector"},
      {u"\\device\\mupx\\server\\share", u"\\device\\mupx\\server\\share"},
      // A server named "?" would turn the rest into a prefix, not a share.
      {u"\\device\\lanmanredirector\\;z:0000000000012345\\?\\x", u"\\device\\lanmanredirector\\;z:0000000000012345\\?\\x"},
  };
  for (const auto& [device_path, expected] : rows) {
    EXPECT_EQ(map_device_prefix(map, std::u16string(device_path)), expected)
        << std::string(device_path.begin(), device_path.end());
  }
  // What comes out is already normalised.
  EXPECT_EQ(normalize_path(map_device_prefix(map, u"\\device\\mup\\server\\share")), u"\\\\server\\share");
}

TEST(PathHash, is_fnv1a_over_little_endian_units) {
  EXPECT_EQ(fnv1a_path_hash(u""), 0xcbf29ce484222325ULL);
  // "a" is the bytes 0x61 0x00.
  std::uint64_t h = 0xcbf29ce484222325ULL;
  h = (h ^ 0x61) * 0x100000001b3ULL;
  h = (h ^ 0x00) * 0x100000001b3ULL;
  EXPECT_EQ(fnv1a_path_hash(u"a"), h);
}

TEST(PathHash, equal_texts_hash_alike_and_a_change_in_any_unit_moves_the_hash) {
  const std::u16string base = u"c:\\build\\src\\module017\\unit00423.cpp";
  EXPECT_EQ(path_hash(base), path_hash(std::u16string(base)));
  for (std::size_t length = 0; length <= base.size(); ++length) {
    const std::u16string_view prefix = std::u16string_view(base).substr(0, length);
    if (length > 0) {
      std::u16string changed(prefix);
      changed.back() = u'#';
      EXPECT_NE(path_hash(prefix), path_hash(changed)) << length;
    }
    if (length < base.size()) {
      EXPECT_NE(path_hash(prefix), path_hash(base.substr(0, length + 1))) << length;
    }
  }
}

}  // namespace
}  // namespace mirrow
