#pragma once
// Temporary directories for the Windows tests: made fresh under the Windows
// temp directory and removed with everything below them.
#include <string>
#include <string_view>

namespace mirrow::testing {

// A fresh empty directory under the Windows temporary directory, named for
// `prefix`, this process, the time and a serial number.
std::wstring fresh_temp_directory(std::wstring_view prefix);

// Removes a file, or a directory with everything below it; links are removed,
// not followed, and read-only files go too.
void remove_tree(const std::wstring& path);

// A fresh directory removed with its contents when the test ends.
class TempDir {
 public:
  explicit TempDir(std::wstring_view prefix = L"mirrow") : path_(fresh_temp_directory(prefix)) {}
  ~TempDir() { remove_tree(path_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

}  // namespace mirrow::testing
