#pragma once
// The one normalised path form that the engine and the scanner store,
// compare and report, and the rules built on it: the prefix test, the
// long-path form for system calls and the device-prefix rewrite.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mirrow {

// Back-slashes only, no \??\ or \\?\ prefix, \\?\UNC\ rewritten to \\,
// lower case, no trailing back-slash unless three units or shorter.
std::u16string normalize_path(std::u16string p);
// As normalize_path, on the caller's own string.
void normalize_path_in_place(std::u16string& p);

// The normalised form in the caller's own letter case: what the system is
// handed. In a case-sensitive directory the lower-case form may name a
// sibling that differs only in case, or nothing at all, so a path that came
// from the host or from a listing keeps this spelling for every system call,
// and normalize_path of it is the path stored, compared and reported.
std::u16string spell_path(std::u16string p);

// True when path equals prefix or lies below it (c:\data\x under c:\data,
// c:\database not). An empty prefix matches nothing.
bool is_under(std::u16string_view path, std::u16string_view prefix);

// \\?\ or \\?\UNC\ form of a normalised path for the system's file functions.
std::u16string long_path_form(std::u16string_view p);

// The system's file functions take names of fewer units than this (room for
// the terminating NUL included). A longer name must never be handed to them:
// cut short on the way, it would name one of its own ancestors instead.
constexpr std::size_t system_path_units_limit = 32767;

constexpr std::uint32_t error_invalid_name = 123;  // ERROR_INVALID_NAME
constexpr std::uint32_t error_name_too_long = 206;  // ERROR_FILENAME_EXCED_RANGE

// 0 when the long-path form of a normalised path, with extra_units appended,
// may be handed to the system, which takes every unit of that form
// literally; otherwise the error a call with it stands for. 123 unless it is
// a drive path (c:\...), a UNC path (\\server\...) or a volume path
// (volume{guid}\...) whose components are neither empty nor "." or "..": a
// relative name would be looked up among the system's device names instead.
// 206 when it reaches the limit above.
std::uint32_t long_path_refusal(std::u16string_view p, std::size_t extra_units = 0);

// 64-bit FNV-1a over the UTF-16 units as little-endian bytes.
std::uint64_t fnv1a_path_hash(std::u16string_view p);

// The hash of the engine's path tables: eight bytes (four units) per step,
// several times quicker than FNV-1a on paths of a hundred units.
std::uint64_t path_hash(std::u16string_view p) noexcept;

// Equality of paths as one block compare: the standard comparison of
// UTF-16 texts walks them unit by unit.
struct PathEqual {
  using is_transparent = void;
  bool operator()(std::u16string_view a, std::u16string_view b) const noexcept {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), 2 * a.size()) == 0);
  }
};

struct PathHash {
  using is_transparent = void;
  std::size_t operator()(std::u16string_view p) const noexcept { return static_cast<std::size_t>(path_hash(p)); }
  std::size_t operator()(const std::u16string& p) const noexcept { return static_cast<std::size_t>(path_hash(p)); }
};

// (normalised device path, normalised drive), longest device path first.
struct DeviceMapping {
  std::u16string device;
  std::u16string drive;
};
using DeviceMap = std::vector<DeviceMapping>;

// Builds the map from a lookup that answers the device path behind a drive
// name such as u"C:" (empty when the drive has none). Only device paths
// (\device\...) are kept: a subst drive answers a drive or network path
// (\??\C:\work), which kernel events never carry and which would rewrite
// ordinary paths below its target to the subst drive.
template <typename Lookup>
DeviceMap build_device_map(Lookup&& query_device);

// Sorts mappings longest device path first.
void sort_device_map(DeviceMap& map);

// \device\harddiskvolume3\users\a.txt -> c:\users\a.txt, and the device
// itself -> c:\ (its root folder). A path no mapping matches is a network
// path when a redirector names it (\device\mup\server\share\x,
// \device\mup\;lanmanredirector\;z:<logon>\server\share\x,
// \device\mup\dfsclient\;z:<logon>\server\share\x,
// \device\lanmanredirector\;z:<logon>\server\share\x -> \\server\share\x);
// a mapped drive that the map knows keeps its letter. Any other path stays
// as it is.
std::u16string map_device_prefix(const DeviceMap& map, std::u16string p);
// As map_device_prefix, on the caller's own string.
void map_device_prefix_in_place(const DeviceMap& map, std::u16string& p);

template <typename Lookup>
DeviceMap build_device_map(Lookup&& query_device) {
  DeviceMap map;
  for (char16_t letter = u'A'; letter <= u'Z'; ++letter) {
    const char16_t name[3] = {letter, u':', 0};
    std::u16string device = query_device(name);
    std::u16string normalised = normalize_path(std::move(device));
    if (normalised.size() < 2 || normalised[0] != u'\\' || normalised[1] == u'\\') continue;
    map.push_back({std::move(normalised), normalize_path(std::u16string(name))});
  }
  sort_device_map(map);
  return map;
}

}  // namespace mirrow
