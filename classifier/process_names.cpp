// The two fixed name lists of the verdict: user-facing applications (whose
// descendants the user started indirectly) and fragments naming protection
// software, protected games and this system's own components.
#include <array>
#include <string>
#include <string_view>
#include <unordered_set>

#include "classifier/verdict.h"

namespace mirrow {
namespace {

// Built once on first use (the static's initialisation is thread-safe) and
// only read afterwards.
const std::unordered_set<std::u16string>& known_user_apps() {
  static const std::unordered_set<std::u16string> apps = {
      u"explorer.exe",  u"steam.exe",     u"chrome.exe",
      u"msedge.exe",    u"firefox.exe",   u"code.exe",
      u"devenv.exe",    u"pycharm64.exe", u"idea64.exe",
      u"epicgameslauncher.exe", u"goggalaxy.exe", u"battle.net.exe",
      u"ubisoftconnect.exe",
  };
  return apps;
}

constexpr std::array<std::u16string_view, 12> kProtectedNameFragments = {
    u"anticheat", u"beservice",  u"battleye", u"faceit",
    u"msmpeng",   u"securityhealth", u"vgc.exe", u"vgtray",
    u"mirrow",    u"rainbowsix", u"fortnite", u"cs2.exe",
};

}  // namespace

bool is_known_user_app(std::u16string_view exe_name) {
  return known_user_apps().contains(to_lower(std::u16string(exe_name)));
}

bool has_protected_name_fragment(std::u16string_view exe_name) {
  const std::u16string lowered = to_lower(std::u16string(exe_name));
  for (const std::u16string_view fragment : kProtectedNameFragments) {
    if (lowered.find(fragment) != std::u16string::npos) return true;
  }
  return false;
}

}  // namespace mirrow
