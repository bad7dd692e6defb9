#pragma once
// The scanner's ways to a volume on Windows: a local NTFS volume opened as
// \\.\X: for aligned, unbuffered reads, or an image file standing for the
// volume of any drive (from a byte offset on).
#include <cstdint>
#include <string>

#include "scanner/volume_access.h"

namespace mirrow {

const VolumeAccess& windows_volume_access();

// Holds the image's path and offset; access() stays valid while it lives.
class ImageVolumeAccess {
 public:
  ImageVolumeAccess(std::u16string image, std::uint64_t offset);
  ImageVolumeAccess(const ImageVolumeAccess&) = delete;
  ImageVolumeAccess& operator=(const ImageVolumeAccess&) = delete;

  const VolumeAccess& access() const { return access_; }
  const std::u16string& image() const { return image_; }
  std::uint64_t offset() const { return offset_; }

 private:
  std::u16string image_;
  std::uint64_t offset_;
  VolumeAccess access_;
};

}  // namespace mirrow
