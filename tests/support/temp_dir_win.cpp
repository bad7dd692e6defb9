#include "support/temp_dir_win.h"

#include <windows.h>

#include <atomic>

#include "common/unique_handle.h"

namespace mirrow::testing {

std::wstring fresh_temp_directory(std::wstring_view prefix) {
  static std::atomic<unsigned> serial{0};
  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH + 1, temp);
  const std::wstring directory = std::wstring(temp) + std::wstring(prefix) + L"-" +
                                 std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64()) +
                                 L"-" + std::to_wstring(++serial);
  CreateDirectoryW(directory.c_str(), nullptr);
  return directory;
}

void remove_tree(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    WIN32_FIND_DATAW data;
    UniqueFindHandle listing(FindFirstFileW((path + L"\\*").c_str(), &data));
    if (listing) {
      do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") remove_tree(path + L"\\" + name);
      } while (FindNextFileW(listing.get(), &data));
    }
    listing.reset();
    RemoveDirectoryW(path.c_str());
    return;
  }
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!DeleteFileW(path.c_str())) RemoveDirectoryW(path.c_str());
}

}  // namespace mirrow::testing
