#include "common/paths.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>

#include "common/lowercase.h"

namespace mirrow {

namespace {

void slashes_to_backslashes(char16_t* units, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (units[i] == u'/') units[i] = u'\\';
  }
}

// The separators and ASCII case of eight units at once, as long as every
// unit of a block is ASCII; returns how many units were done (a multiple of
// eight), leaving the block with another unit, and the tail, to the caller.
std::size_t fold_ascii_blocks(char16_t* units, std::size_t length) {
  const __m128i ascii_end = _mm_set1_epi16(0x7F);
  const __m128i before_upper = _mm_set1_epi16('A' - 1);
  const __m128i after_upper = _mm_set1_epi16('Z' + 1);
  const __m128i case_bit = _mm_set1_epi16(32);
  const __m128i slash = _mm_set1_epi16('/');
  const __m128i backslash = _mm_set1_epi16('\\');
  std::size_t done = 0;
  for (; done + 8 <= length; done += 8) {
    auto* at = reinterpret_cast<__m128i*>(units + done);
    __m128i block = _mm_loadu_si128(at);
    // Signed compares: units from 0x8000 up are negative, so not ASCII.
    const __m128i not_ascii =
        _mm_or_si128(_mm_cmpgt_epi16(block, ascii_end), _mm_cmplt_epi16(block, _mm_setzero_si128()));
    if (_mm_movemask_epi8(not_ascii) != 0) break;
    const __m128i upper = _mm_and_si128(_mm_cmpgt_epi16(block, before_upper), _mm_cmplt_epi16(block, after_upper));
    block = _mm_add_epi16(block, _mm_and_si128(upper, case_bit));
    const __m128i slashes = _mm_cmpeq_epi16(block, slash);
    block = _mm_or_si128(_mm_andnot_si128(slashes, block), _mm_and_si128(slashes, backslash));
    _mm_storeu_si128(at, block);
  }
  return done;
}

bool is_separator(char16_t unit) { return unit == u'\\' || unit == u'/'; }

// Every prefix below starts with a separator, a '?' or another separator,
// then a '?': most paths fail this at their first or second unit.
bool may_start_with_prefix(std::u16string_view p) {
  return p.size() >= 4 && is_separator(p[0]) && (p[1] == u'?' || is_separator(p[1])) && p[2] == u'?';
}

// Removes \??\, \\?\ and \\?\UNC\ prefixes until none is left, so that
// the result never starts with one and normalising again changes nothing. A
// prefix is looked for once the separators are back-slashes; only the first
// eight units can belong to one.
void strip_prefixes(std::u16string& p) {
  while (may_start_with_prefix(p)) {
    slashes_to_backslashes(p.data(), std::min<std::size_t>(p.size(), 8));
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
}

void strip_trailing_backslashes(std::u16string& p) {
  while (p.size() > 3 && p.back() == u'\\') p.pop_back();
}

}  // namespace

std::u16string normalize_path(std::u16string p) {
  normalize_path_in_place(p);
  return p;
}

void normalize_path_in_place(std::u16string& p) {
  strip_prefixes(p);
  // One pass for the rest: separators, and ASCII lowered here (see
  // lower_in_place); from the first other unit on, the platform's rules.
  char16_t* units = p.data();
  const std::size_t length = p.size();
  for (std::size_t i = fold_ascii_blocks(units, length); i < length; ++i) {
    const char16_t unit = units[i];
    if (unit >= 0x80) {
      slashes_to_backslashes(units + i, length - i);
      lower_in_place(units + i, length - i);
      break;
    }
    if (unit == u'/') units[i] = u'\\';
    else if (unit >= u'A' && unit <= u'Z') units[i] = static_cast<char16_t>(unit + 32);
  }
  strip_trailing_backslashes(p);
}

std::u16string spell_path(std::u16string p) {
  slashes_to_backslashes(p.data(), p.size());
  strip_prefixes(p);
  strip_trailing_backslashes(p);
  return p;
}

bool is_under(std::u16string_view path, std::u16string_view prefix) {
  if (prefix.empty() || path.size() < prefix.size()) return false;
  if (std::memcmp(path.data(), prefix.data(), 2 * prefix.size()) != 0) return false;
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

std::uint64_t path_hash(std::u16string_view p) noexcept {
  constexpr std::uint64_t multiplier = 0x9E3779B97F4A7C15ULL;
  std::uint64_t hash = 0x243F6A8885A308D3ULL ^ (p.size() * multiplier);
  const char16_t* units = p.data();
  std::size_t left = p.size();
  for (; left >= 4; left -= 4, units += 4) {
    std::uint64_t word;
    std::memcpy(&word, units, 8);
    hash = (hash ^ word) * multiplier;
    hash ^= hash >> 29;
  }
  if (left > 0) {
    std::uint64_t word = 0;
    std::memcpy(&word, units, left * 2);
    hash = (hash ^ word) * multiplier;
  }
  hash ^= hash >> 32;
  return hash * 0xD6E8FEB86659FD93ULL;
}

void sort_device_map(DeviceMap& map) {
  std::stable_sort(map.begin(), map.end(),
                   [](const DeviceMapping& a, const DeviceMapping& b) { return a.device.size() > b.device.size(); });
}

std::u16string map_device_prefix(const DeviceMap& map, std::u16string p) {
  map_device_prefix_in_place(map, p);
  return p;
}

namespace {

// The network redirectors' device paths: \device\mup\server\share\... and
// the forms that name a provider and a logon session first
// (\device\mup\;lanmanredirector\;z:0000000000020d40\server\share,
// \device\lanmanredirector\;z:...\server\share, and the DFS client's
// \device\mup\dfsclient\;z:...\server\share), all of them
// \\server\share\... once those components are gone.
constexpr std::u16string_view multiple_unc_provider = u"\\device\\mup";
constexpr std::u16string_view lanman_redirector = u"\\device\\lanmanredirector";

std::size_t component_end(std::u16string_view p, std::size_t at) { return std::min(p.find(u'\\', at), p.size()); }

void map_network_redirector_in_place(std::u16string& p) {
  const bool via_mup = is_under(p, multiple_unc_provider);
  if (!via_mup && !is_under(p, lanman_redirector)) return;
  std::size_t at = (via_mup ? multiple_unc_provider : lanman_redirector).size() + 1;
  const auto skip_session_components = [&] {
    while (at < p.size() && p[at] == u';') at = component_end(p, at) + 1;
  };
  skip_session_components();
  // A provider named without its ';' (the DFS client) is told by the
  // session component after it.
  const std::size_t first_end = component_end(p, at);
  if (via_mup && first_end + 1 < p.size() && p[first_end + 1] == u';') {
    at = first_end + 1;
    skip_session_components();
  }
  if (at >= p.size()) return;
  // A server named "?" would make a prefix (\\?\) of what is left, not a
  // network path: only a result already in the normal form replaces the
  // device path.
  std::u16string network = u"\\\\" + p.substr(at);
  if (normalize_path(network) != network) return;
  p = std::move(network);
}

}  // namespace

void map_device_prefix_in_place(const DeviceMap& map, std::u16string& p) {
  for (const DeviceMapping& mapping : map) {
    if (!is_under(p, mapping.device)) continue;
    // The device itself is the volume's root folder: c:\, not c:.
    const bool root = p.size() == mapping.device.size() && mapping.drive.size() == 2;
    p.replace(0, mapping.device.size(), mapping.drive);
    if (root) p.push_back(u'\\');
    return;
  }
  map_network_redirector_in_place(p);
}

}  // namespace mirrow
