#pragma once
// How the scanner reaches the volume that holds its root, as a table of
// platform calls: the shipped library opens a local NTFS volume (or an image
// file standing in for one); tests hand in a buffer.
#include <string>
#include <string_view>

#include "scanner/ntfs/volume_reader.h"

namespace mirrow {

struct VolumeAccess {
  void* context = nullptr;
  // Opens the volume whose root is drive_root (as spelled, "C:\") for
  // reading and fills reader; false with refusal set when it cannot
  // ("not NTFS", "access denied: 5", ...).
  bool (*open)(void* context, std::u16string_view drive_root, ntfs::VolumeReader& reader,
               std::string& refusal) = nullptr;
  // Releases what open put into reader.
  void (*close)(void* context, ntfs::VolumeReader& reader) = nullptr;
};

}  // namespace mirrow
