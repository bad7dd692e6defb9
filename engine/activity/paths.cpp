#include "engine/activity/paths.h"

#include <algorithm>

#include "common/lowercase.h"

namespace mirrow {

std::u16string normalize_path(std::u16string p) {
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
  lower_in_place(p);
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
