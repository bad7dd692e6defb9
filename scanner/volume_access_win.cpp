#include "scanner/volume_access_win.h"

#include <windows.h>
#include <winioctl.h>

#include <memory>

#include "common/number_format.h"
#include "common/unique_handle.h"

namespace mirrow {
namespace {

// An open volume or image; the reader's context.
struct VolumeFile {
  UniqueHandle handle;
  std::uint64_t offset = 0;  // where the volume starts in the file
};

std::string code_text(std::string_view what, DWORD code) {
  std::string text(what);
  text += ": ";
  append_u64(text, code);
  return text;
}

bool read_at(void* context, std::uint64_t offset, void* buffer, std::size_t length) {
  auto* file = static_cast<VolumeFile*>(context);
  auto* to = static_cast<std::uint8_t*>(buffer);
  std::uint64_t at = offset + file->offset;
  while (length > 0) {
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(length, 1u << 30));
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(at);
    position.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD got = 0;
    if (!ReadFile(file->handle.get(), to, piece, &got, &position) || got == 0) return false;
    to += got;
    at += got;
    length -= got;
  }
  return true;
}

void close_file(void*, ntfs::VolumeReader& reader) {
  delete static_cast<VolumeFile*>(reader.context);
  reader = {};
}

// Only a fixed or removable drive of its own (not a network drive, not a
// subst of a folder) whose file system calls itself NTFS.
bool local_ntfs_drive(std::u16string_view drive_root, std::string& refusal) {
  const std::wstring root(drive_root.begin(), drive_root.end());
  const UINT type = GetDriveTypeW(root.c_str());
  if (type != DRIVE_FIXED && type != DRIVE_REMOVABLE) {
    refusal = "not a local drive";
    return false;
  }
  wchar_t device[MAX_PATH];
  const std::wstring drive = root.substr(0, 2);
  if (QueryDosDeviceW(drive.c_str(), device, MAX_PATH) != 0 && std::wstring_view(device).starts_with(L"\\??\\")) {
    refusal = "a subst drive";
    return false;
  }
  wchar_t file_system[MAX_PATH + 1] = {};
  if (!GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, nullptr, file_system, MAX_PATH + 1)) {
    refusal = code_text("the volume's file system is unknown", GetLastError());
    return false;
  }
  if (std::wstring_view(file_system) != L"NTFS") {
    refusal = "not an NTFS volume";
    return false;
  }
  return true;
}

std::uint64_t device_length(HANDLE volume) {
  GET_LENGTH_INFORMATION length{};
  DWORD returned = 0;
  if (DeviceIoControl(volume, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &returned, nullptr))
    return static_cast<std::uint64_t>(length.Length.QuadPart);
  return UINT64_MAX;  // the boot sector's own size bounds the reads then
}

bool open_local_volume(void*, std::u16string_view drive_root, ntfs::VolumeReader& reader, std::string& refusal) {
  if (!local_ntfs_drive(drive_root, refusal)) return false;
  const std::wstring device = L"\\\\.\\" + std::wstring(drive_root.begin(), drive_root.begin() + 2);
  UniqueHandle volume(CreateFileW(device.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, nullptr));
  if (!volume) {
    refusal = code_text("the volume cannot be opened for reading", GetLastError());
    return false;
  }
  const std::uint64_t size = device_length(volume.get());
  auto file = std::make_unique<VolumeFile>();
  file->handle = std::move(volume);
  reader = {file.release(), read_at, size};
  return true;
}

bool open_image(void* context, std::u16string_view, ntfs::VolumeReader& reader, std::string& refusal) {
  const auto* self = static_cast<const ImageVolumeAccess*>(context);
  UniqueHandle image(CreateFileW(wide(self->image().c_str()), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!image) {
    refusal = code_text("the image cannot be opened", GetLastError());
    return false;
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(image.get(), &size) || static_cast<std::uint64_t>(size.QuadPart) < self->offset()) {
    refusal = "the image is shorter than its offset";
    return false;
  }
  auto file = std::make_unique<VolumeFile>();
  file->handle = std::move(image);
  file->offset = self->offset();
  reader = {file.release(), read_at, static_cast<std::uint64_t>(size.QuadPart) - self->offset()};
  return true;
}

}  // namespace

ImageVolumeAccess::ImageVolumeAccess(std::u16string image, std::uint64_t offset)
    : image_(std::move(image)), offset_(offset), access_{this, open_image, close_file} {}

const VolumeAccess& windows_volume_access() {
  static const VolumeAccess access{nullptr, open_local_volume, close_file};
  return access;
}

}  // namespace mirrow
