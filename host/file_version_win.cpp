#include "host/file_version_win.h"

#include <windows.h>

namespace mirrow::host {

VersionResource::VersionResource(const std::wstring& path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return;
  block_.resize(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, block_.data())) block_.clear();
}

std::optional<FileVersion> VersionResource::file_version() const {
  if (!present()) return std::nullopt;
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block_.data(), L"\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO)) return std::nullopt;
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  if (fixed->dwSignature != VS_FFI_SIGNATURE) return std::nullopt;
  return FileVersion{HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                     LOWORD(fixed->dwFileVersionLS)};
}

std::optional<std::wstring> VersionResource::string_value(std::wstring_view name) const {
  if (!present()) return std::nullopt;
  const std::wstring key = L"\\StringFileInfo\\040904B0\\" + std::wstring(name);
  void* value = nullptr;
  UINT length = 0;  // in characters, with the terminator
  if (!VerQueryValueW(block_.data(), key.c_str(), &value, &length) || length == 0) return std::nullopt;
  return std::wstring(static_cast<const wchar_t*>(value), length - 1);
}

}  // namespace mirrow::host
