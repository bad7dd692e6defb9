// The normalised path form and the rules built on it: normalize_path,
// is_under, long_path_form, long_path_refusal and map_device_prefix under a
// device map such as a machine with two volumes, a network drive and a subst
// drive gives.
//
// Input: up to three strings separated by the byte 0xFE. Any other byte is
// one UTF-16 unit of that value, except 0xFF, which takes the next two bytes
// as one unit (little-endian), so every unit can be written.
//
// Checked: normalised text is in the form the header promises and is a fixed
// point; is_under matches whole components and is transitive; the long-path
// form normalises back to the path, and is refused for anything but a drive,
// UNC or volume path of real names, or at the system's length limit counted
// on that very form; the device rewrite picks the longest matching device,
// and a name interned once interns to itself again (the watcher re-interns
// remembered names, the classifier compares them with normalised roots).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>
#include <string_view>

#include "common/lowercase.h"
#include "common/paths.h"

namespace {

using mirrow::DeviceMap;

void require(bool condition) {
  if (!condition) std::abort();
}

std::u16string read_part(const std::uint8_t*& at, const std::uint8_t* end) {
  std::u16string text;
  while (at < end) {
    const std::uint8_t b = *at++;
    if (b == 0xFE) break;
    if (b != 0xFF) {
      text.push_back(static_cast<char16_t>(b));
    } else if (end - at >= 2) {
      text.push_back(static_cast<char16_t>(at[0] | (at[1] << 8)));
      at += 2;
    } else {
      at = end;
    }
  }
  return text;
}

const DeviceMap& device_map() {
  static const DeviceMap map = mirrow::build_device_map([](const char16_t* drive) -> std::u16string {
    switch (drive[0]) {
      case u'C': return u"\\Device\\HarddiskVolume1";
      case u'D': return u"\\Device\\HarddiskVolume10";
      case u'S': return u"\\??\\C:\\Work";  // subst S: C:\Work
      case u'Z': return u"\\Device\\LanmanRedirector\\;Z:0000000000012345\\Server\\Share";
      default: return {};
    }
  });
  return map;
}

std::u16string intern_form(std::u16string raw) {
  return mirrow::map_device_prefix(device_map(), mirrow::normalize_path(std::move(raw)));
}

void check_normal_form(const std::u16string& n) {
  require(n.find(u'/') == std::u16string::npos);
  require(!std::u16string_view(n).starts_with(u"\\??\\"));
  require(!std::u16string_view(n).starts_with(u"\\\\?\\"));
  require(mirrow::to_lower(n) == n);
  require(n.size() <= 3 || n.back() != u'\\');
  require(mirrow::normalize_path(n) == n);
}

bool drive_path(std::u16string_view n) {
  return n.size() >= 2 && n[0] >= u'a' && n[0] <= u'z' && n[1] == u':';
}

// A heap copy of exactly the text's length: a read past its end is caught
// even where the string itself would keep a short text inline.
struct Exact {
  explicit Exact(std::u16string_view text) : units(new char16_t[text.size()]), view(units.get(), text.size()) {
    std::copy(text.begin(), text.end(), units.get());
  }
  std::unique_ptr<char16_t[]> units;
  std::u16string_view view;
};

void check_is_under(std::u16string_view a, std::u16string_view b, std::u16string_view c) {
  require(!mirrow::is_under(a, u""));
  require(mirrow::is_under(a, a) == !a.empty());
  const bool ab = mirrow::is_under(a, b);
  if (ab) require(std::u16string_view(a).starts_with(b));
  // Whole components only: a continuation that is not a separator is not under.
  if (!b.empty() && b.back() != u'\\' && a.size() > b.size() && a[b.size()] != u'\\' &&
      std::u16string_view(a).starts_with(b))
    require(!ab);
  if (ab && mirrow::is_under(b, c)) require(mirrow::is_under(a, c));
}

void check_joined_under(const std::u16string& a, const std::u16string& b) {
  // A watched drive directory joined with any relative name, as the watcher
  // builds full paths, normalises to a path under that directory.
  if (drive_path(b)) {
    std::u16string full = b;
    if (full.back() != u'\\') full.push_back(u'\\');
    full.append(a);
    require(mirrow::is_under(mirrow::normalize_path(full), b));
  }
}

// Every back-slash separated piece of rest is a real name: not empty, "."
// or "..".
bool all_names(std::u16string_view rest) {
  for (;;) {
    const std::size_t cut = rest.find(u'\\');
    const std::u16string_view piece = rest.substr(0, cut);
    if (piece.empty() || piece == u"." || piece == u"..") return false;
    if (cut == std::u16string_view::npos) return true;
    rest.remove_prefix(cut + 1);
  }
}

// Whether a normalised path may go to the system in long-path form: only a
// drive, UNC or volume path whose components are all real names, and only
// while that form with its terminating NUL fits the system's limit.
void check_long_path_refusal(const std::u16string& n) {
  const std::uint32_t refusal = mirrow::long_path_refusal(n);
  require(refusal == 0 || refusal == mirrow::error_invalid_name || refusal == mirrow::error_name_too_long);
  if (refusal == mirrow::error_invalid_name) {
    require(mirrow::long_path_refusal(n, mirrow::system_path_units_limit) == mirrow::error_invalid_name);
    return;
  }
  const std::u16string_view v(n);
  if (v.starts_with(u"\\\\")) {
    require(all_names(v.substr(2)));
  } else if (v.size() >= 3 && v[0] >= u'a' && v[0] <= u'z' && v[1] == u':' && v[2] == u'\\') {
    require(v.size() == 3 || all_names(v.substr(3)));
  } else {
    const std::size_t cut = v.find(u'\\');
    const std::u16string_view volume = v.substr(0, cut);
    require(volume.starts_with(u"volume{") && volume.ends_with(u'}'));
    require(cut == std::u16string_view::npos || all_names(v.substr(cut + 1)));
  }
  // The limit is counted on the form actually handed over, NUL included.
  const std::size_t units = mirrow::long_path_form(n).size();
  require((refusal == mirrow::error_name_too_long) == (units + 1 > mirrow::system_path_units_limit));
  if (units < mirrow::system_path_units_limit) {
    require(mirrow::long_path_refusal(n, mirrow::system_path_units_limit - units - 1) == 0);
    require(mirrow::long_path_refusal(n, mirrow::system_path_units_limit - units) == mirrow::error_name_too_long);
  }
}

// The network redirectors' forms by their components: after the
// redirector, components that start with ';' (a provider, a logon
// session) go, and under \device\mup a first component followed by one
// of them (the DFS client) goes with them; what is left, if anything, is
// \\server\share\...
std::u16string network_form(const std::u16string& n) {
  if (n.empty() || n[0] != u'\\') return n;
  std::vector<std::u16string> parts;
  for (std::size_t at = 1; at <= n.size();) {
    const std::size_t end = std::min(n.find(u'\\', at), n.size());
    parts.push_back(n.substr(at, end - at));
    at = end + 1;
  }
  const bool mup = parts.size() >= 2 && parts[0] == u"device" && parts[1] == u"mup";
  const bool lanman = parts.size() >= 2 && parts[0] == u"device" && parts[1] == u"lanmanredirector";
  if (!mup && !lanman) return n;
  std::size_t first = 2;
  while (first < parts.size() && parts[first].starts_with(u';')) ++first;
  if (mup && first + 1 < parts.size() && parts[first + 1].starts_with(u';')) {
    ++first;
    while (first < parts.size() && parts[first].starts_with(u';')) ++first;
  }
  if (first >= parts.size()) return n;
  std::u16string out = u"\\";
  for (std::size_t i = first; i < parts.size(); ++i) out += u"\\" + parts[i];
  return mirrow::normalize_path(out) == out ? out : n;
}

void check_device_rewrite(const std::u16string& raw, const std::u16string& n) {
  const DeviceMap& map = device_map();
  const std::u16string mapped = mirrow::map_device_prefix(map, n);
  const mirrow::DeviceMapping* longest = nullptr;
  for (const auto& m : map)
    if (mirrow::is_under(n, m.device) && (!longest || m.device.size() > longest->device.size())) longest = &m;
  if (!longest) {
    require(mapped == network_form(n));
  } else {
    // The device itself is its drive's root folder.
    const std::u16string rest = n.substr(longest->device.size());
    require(mapped == longest->drive + (rest.empty() ? u"\\" : rest));
  }
  const std::u16string once = intern_form(raw);
  require(once == mapped);
  check_normal_form(once);
  require(intern_form(once) == once);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::uint8_t* at = data;
  const std::uint8_t* end = data + size;
  const std::u16string raw_a = read_part(at, end);
  const std::u16string raw_b = read_part(at, end);
  const std::u16string raw_c = read_part(at, end);

  const std::u16string a = mirrow::normalize_path(raw_a);
  const std::u16string b = mirrow::normalize_path(raw_b);
  const std::u16string c = mirrow::normalize_path(raw_c);
  check_normal_form(a);
  check_normal_form(b);
  check_normal_form(c);

  const Exact ea(a), eb(b), ec(c), eraw_b(raw_b);
  check_is_under(ea.view, eb.view, ec.view);
  check_is_under(ea.view, eraw_b.view, ec.view);  // also for prefixes that were never normalised
  check_joined_under(raw_a, b);

  const std::u16string long_form = mirrow::long_path_form(ea.view);
  require(std::u16string_view(long_form).starts_with(u"\\\\?\\"));
  require(mirrow::normalize_path(long_form) == a);

  // The spelling handed to the system is the normalised path but for letter
  // case, and so is its long-path form wherever one reaches the system (a
  // relative name such as UNC\x never does: its long form would read as a
  // network path).
  const std::u16string spelled = mirrow::spell_path(raw_a);
  require(spelled.size() == a.size());
  require(mirrow::normalize_path(spelled) == a);
  require(mirrow::spell_path(spelled) == spelled);
  if (mirrow::long_path_refusal(a) == 0) require(mirrow::normalize_path(mirrow::long_path_form(spelled)) == a);

  check_long_path_refusal(a);
  check_device_rewrite(raw_a, a);
  return 0;
}
