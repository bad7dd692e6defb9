#pragma once
// The few file-system calls the scanner makes, as a table of function
// pointers. The shipped library fills it with the real directory-listing
// calls (scan_platform_win.cpp); tests fill it with a scripted tree, so the
// walk's decisions run the same way on every platform.
#include <cstdint>
#include <string>

namespace mirrow {

// Attribute bits the walk looks at (the values of the Windows constants).
constexpr std::uint32_t attribute_directory = 0x10;
constexpr std::uint32_t attribute_reparse_point = 0x400;
constexpr std::uint32_t attribute_offline = 0x1000;

// System error numbers the walk treats as normal ends.
constexpr std::uint32_t error_file_not_found = 2;
constexpr std::uint32_t error_no_more_files = 18;

// One entry of a directory listing, as the listing itself reports it.
struct ScanEntry {
  std::u16string name;
  std::uint32_t attributes = 0;
  std::uint64_t size = 0;             // logical size
  std::int64_t write_time = 0;        // 100-ns units since 1601
  std::int64_t creation_time = 0;     // 100-ns units since 1601
};

// An open listing; null means none.
using ListingHandle = void*;

struct ScanPlatform {
  void* context = nullptr;
  // Opens the listing for a pattern (long-path form ending in *) and fills
  // first with its first entry. Null with error set when it fails.
  ListingHandle (*open_listing)(void* context, const std::u16string& pattern, ScanEntry& first,
                                std::uint32_t& error) = nullptr;
  // Fills entry with the next entry; false with error set at the end or on failure.
  bool (*next_entry)(void* context, ListingHandle listing, ScanEntry& entry, std::uint32_t& error) = nullptr;
  void (*close_listing)(void* context, ListingHandle listing) = nullptr;
  // Attributes of a path in long-path form; false when they cannot be read.
  bool (*read_attributes)(void* context, const std::u16string& path, std::uint32_t& attributes) = nullptr;
};

}  // namespace mirrow
