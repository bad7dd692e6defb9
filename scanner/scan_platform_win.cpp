#include "scanner/scan_platform_win.h"

#include <windows.h>

#include "common/unique_handle.h"

namespace mirrow {
namespace {

std::int64_t file_time_value(const FILETIME& time) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

void copy_entry(const WIN32_FIND_DATAW& data, ScanEntry& entry) {
  entry.name.assign(utf16(data.cFileName));
  entry.attributes = data.dwFileAttributes;
  entry.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  entry.write_time = file_time_value(data.ftLastWriteTime);
  entry.creation_time = file_time_value(data.ftCreationTime);
}

ListingHandle open_listing(void*, const std::u16string& pattern, ScanEntry& first, std::uint32_t& error) {
  WIN32_FIND_DATAW data;
  UniqueFindHandle listing(FindFirstFileExW(wide(pattern.c_str()), FindExInfoBasic, &data, FindExSearchNameMatch,
                                            nullptr, FIND_FIRST_EX_LARGE_FETCH));
  if (!listing) {
    error = GetLastError();
    return nullptr;
  }
  copy_entry(data, first);
  return listing.release();
}

bool next_entry(void*, ListingHandle listing, ScanEntry& entry, std::uint32_t& error) {
  WIN32_FIND_DATAW data;
  if (!FindNextFileW(listing, &data)) {
    error = GetLastError();
    return false;
  }
  copy_entry(data, entry);
  return true;
}

void close_listing(void*, ListingHandle listing) { UniqueFindHandle owned(listing); }

bool read_attributes(void*, const std::u16string& path, std::uint32_t& attributes) {
  const DWORD value = GetFileAttributesW(wide(path.c_str()));
  if (value == INVALID_FILE_ATTRIBUTES) return false;
  attributes = value;
  return true;
}

}  // namespace

const ScanPlatform& windows_scan_platform() {
  static const ScanPlatform platform{nullptr, open_listing, next_entry, close_listing, read_attributes};
  return platform;
}

}  // namespace mirrow
