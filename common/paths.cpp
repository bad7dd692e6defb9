#include "common/paths.h"

#include <algorithm>
#include <utility>

#include "common/lowercase.h"

namespace mirrow {

std::u16string normalize_path(std::u16string p) {
  p = spell_path(std::move(p));
  lower_in_place(p);
  return p;
}

std::u16string spell_path(std::u16string p) {
  std::replace(p.begin(), p.end(), u'/', u'\\');
  // Prefixes are removed until none is left, so that the result never starts
  // with one and normalising again changes nothing.
  for (;;) {
    const std::u16string_view view(p);
    if (view.starts_with(u"\\??\\")) {
      p.erase(0, 4);
    } else if (view.starts_with(u"\\\\?\\UNC\\")) {
      p.replace(0, 8, u"\\\\");
    } else if (view.starts_with(u"\\\\?\\")) {
      p.erase(0, 4);
    } else {
      break;
    }
  }
  while (p.size() > 3 && p.back() == u'\\') p.pop_back();
  return p;
}

bool is_under(std::u16string_view path, std::u16string_view prefix) {
  if (prefix.empty() || path.size() < prefix.size()) return false;
  if (path.compare(0, prefix.size(), prefix) != 0) return false;
  return path.size() == prefix.size() || prefix.back() == u'\\' || path[prefix.size()] == u'\\';
}

std::u16string long_path_form(std::u16string_view p) {
  if (p.starts_with(u"\\\\")) {
    std::u16string result(u"\\\\?\\UNC\\");
    result.append(p.substr(2));
    return result;
  }
  std::u16string result(u"\\\\?\\");
  result.append(p);
  return result;
}

std::uint32_t long_path_refusal(std::u16string_view p, std::size_t extra_units) {
  const bool unc = p.starts_with(u"\\\\");
  const bool drive = p.size() >= 3 && ((p[0] >= u'a' && p[0] <= u'z') || (p[0] >= u'A' && p[0] <= u'Z')) &&
                     p[1] == u':' && p[2] == u'\\';
  // A volume named by its GUID, as in \\?\Volume{...}\ once the prefix is gone.
  const std::size_t volume_end = std::min(p.find(u'\\'), p.size());
  const bool volume = p.starts_with(u"volume{") && p[volume_end - 1] == u'}';
  if (!unc && !drive && !volume) return error_invalid_name;
  // Components after the drive or volume root or the leading two
  // back-slashes; a drive root alone keeps its back-slash.
  std::u16string_view rest = unc ? p.substr(2) : drive ? p.substr(3) : p.substr(std::min(volume_end + 1, p.size()));
  while (!rest.empty() || unc) {
    const std::size_t end = std::min(rest.find(u'\\'), rest.size());
    const std::u16string_view component = rest.substr(0, end);
    if (component.empty() || component == u"." || component == u"..") return error_invalid_name;
    if (end == rest.size()) break;
    rest.remove_prefix(end + 1);
  }
  const std::size_t long_form_units = p.size() + (unc ? 6 : 4);
  return long_form_units + extra_units >= system_path_units_limit ? error_name_too_long : 0;
}

std::uint64_t fnv1a_path_hash(std::u16string_view p) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (char16_t unit : p) {
    hash = (hash ^ (unit & 0xFFu)) * 0x100000001b3ULL;
    hash = (hash ^ (unit >> 8)) * 0x100000001b3ULL;
  }
  return hash;
}

void sort_device_map(DeviceMap& map) {
  std::stable_sort(map.begin(), map.end(),
                   [](const DeviceMapping& a, const DeviceMapping& b) { return a.device.size() > b.device.size(); });
}

std::u16string map_device_prefix(const DeviceMap& map, std::u16string p) {
  for (const DeviceMapping& mapping : map) {
    if (is_under(p, mapping.device)) {
      p.replace(0, mapping.device.size(), mapping.drive);
      return p;
    }
  }
  return p;
}

}  // namespace mirrow
