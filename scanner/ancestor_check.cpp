#include "scanner/ancestor_check.h"

#include <algorithm>
#include <string>

#include "common/paths.h"

namespace mirrow {

std::size_t ancestor_floor(std::u16string_view path) {
  constexpr std::size_t drive_root_length = 3;
  if (!path.starts_with(u"\\\\")) return drive_root_length;
  const std::size_t server_end = path.find(u'\\', 2);
  if (server_end == std::u16string_view::npos) return path.size();
  const std::size_t share_end = path.find(u'\\', server_end + 1);
  return share_end == std::u16string_view::npos ? path.size() : share_end;
}

namespace {

// A drive root is where the host chose to look, not a link found inside the
// tree: Wine, for one, marks its Z: drive (the Linux root) as a reparse
// point, which would otherwise refuse every directory on that drive.
std::uint32_t refused_attributes(std::u16string_view directory, std::u16string_view level) {
  const bool drive_root = !directory.starts_with(u"\\\\") && level.size() <= 3;
  return drive_root ? attribute_offline : (attribute_reparse_point | attribute_offline);
}

}  // namespace

bool ancestors_walkable(const ScanPlatform& platform, std::u16string_view directory) {
  const std::size_t floor = ancestor_floor(directory);
  std::u16string_view level = directory;
  for (;;) {
    std::uint32_t attributes = 0;
    if (!platform.read_attributes(platform.context, long_path_form(level), attributes)) return false;
    if (attributes & refused_attributes(directory, level)) return false;
    if (level.size() <= floor) return true;
    const std::size_t last_separator = level.rfind(u'\\');
    if (last_separator == std::u16string_view::npos) return false;
    level = level.substr(0, std::max(last_separator, floor));
  }
}

}  // namespace mirrow
