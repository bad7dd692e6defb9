#include "support/volume_images.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace mirrow::testing {
namespace {

bool read_memory(void* context, std::uint64_t offset, void* buffer, std::size_t length) {
  auto* volume = static_cast<MemoryVolume*>(context);
  if (offset > volume->bytes.size() || length > volume->bytes.size() - offset) return false;
  std::memcpy(buffer, volume->bytes.data() + offset, length);
  volume->bytes_read.value += length;
  return true;
}

bool read_file(void* context, std::uint64_t offset, void* buffer, std::size_t length) {
  const int descriptor = *static_cast<int*>(context);
  auto* to = static_cast<char*>(buffer);
  while (length > 0) {
    const ssize_t got = pread(descriptor, to, length, static_cast<off_t>(offset));
    if (got <= 0) return false;
    to += got;
    offset += static_cast<std::uint64_t>(got);
    length -= static_cast<std::size_t>(got);
  }
  return true;
}

bool open_fixed(void* context, std::u16string_view, ntfs::VolumeReader& reader, std::string& refusal) {
  auto* fixed = static_cast<FixedVolumeAccess*>(context);
  if (!fixed->refusal.empty()) {
    refusal = fixed->refusal;
    return false;
  }
  ++fixed->opens;
  reader = fixed->reader;
  return true;
}

void close_fixed(void* context, ntfs::VolumeReader&) { ++static_cast<FixedVolumeAccess*>(context)->closes; }

ListingHandle no_listing(void*, const std::u16string&, ScanEntry&, std::uint32_t& error) {
  error = 3;  // path not found
  return nullptr;
}
bool no_entry(void*, ListingHandle, ScanEntry&, std::uint32_t& error) {
  error = 18;
  return false;
}
void no_close(void*, ListingHandle) {}
bool no_attributes(void*, const std::u16string&, std::uint32_t&) { return false; }

}  // namespace

const ScanPlatform& nothing_to_list() {
  static const ScanPlatform platform{nullptr, no_listing, no_entry, no_close, no_attributes};
  return platform;
}

ntfs::VolumeReader MemoryVolume::reader() { return {this, read_memory, bytes.size()}; }

FileVolume::~FileVolume() {
  if (descriptor_ >= 0) close(descriptor_);
}

bool FileVolume::open(const std::string& path, std::uint64_t offset) {
  descriptor_ = ::open(path.c_str(), O_RDONLY);
  if (descriptor_ < 0) return false;
  struct stat facts {};
  if (fstat(descriptor_, &facts) != 0 || static_cast<std::uint64_t>(facts.st_size) < offset) return false;
  offset_ = offset;
  size_ = static_cast<std::uint64_t>(facts.st_size) - offset;
  return true;
}

ntfs::VolumeReader FileVolume::reader() {
  return {this,
          [](void* context, std::uint64_t at, void* buffer, std::size_t length) {
            auto* file = static_cast<FileVolume*>(context);
            return read_file(&file->descriptor_, at + file->offset_, buffer, length);
          },
          size_};
}

VolumeAccess FixedVolumeAccess::access() { return {this, open_fixed, close_fixed}; }

std::vector<std::uint8_t> read_whole_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace mirrow::testing
