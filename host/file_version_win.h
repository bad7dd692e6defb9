#pragma once
// A file's version resource, read with the calls Explorer and installers
// use (GetFileVersionInfoW, VerQueryValueW from version.dll).
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/version_report.h"

namespace mirrow::host {

class VersionResource {
 public:
  // Empty when the file cannot be read or carries no version resource.
  explicit VersionResource(const std::wstring& path);

  bool present() const { return !block_.empty(); }
  // The file version of the fixed part.
  std::optional<FileVersion> file_version() const;
  // A value of the U.S. English string table ("ProductName", "FileVersion", ...).
  std::optional<std::wstring> string_value(std::wstring_view name) const;

 private:
  std::vector<std::byte> block_;
};

}  // namespace mirrow::host
