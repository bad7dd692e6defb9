#pragma once
// Volumes for the table reader's tests and benchmarks: one held in memory
// (so a test can damage any byte of it) and one read from an image file
// from an offset on. Both hand out the reader's seam.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "scanner/ntfs/volume_reader.h"
#include "scanner/scan_platform.h"
#include "scanner/volume_access.h"

namespace mirrow::testing {

// A count that the table reader's threads add to while a test reads it.
struct ReadCount {
  std::atomic<std::uint64_t> value{0};

  ReadCount() = default;
  ReadCount(const ReadCount& other) : value(other.value.load()) {}
  ReadCount& operator=(const ReadCount& other) {
    value = other.value.load();
    return *this;
  }
};

struct MemoryVolume {
  std::vector<std::uint8_t> bytes;
  ReadCount bytes_read;

  ntfs::VolumeReader reader();
};

// Reads an image file with pread; open() is false when it cannot be opened.
class FileVolume {
 public:
  FileVolume() = default;
  ~FileVolume();
  FileVolume(const FileVolume&) = delete;
  FileVolume& operator=(const FileVolume&) = delete;

  bool open(const std::string& path, std::uint64_t offset = 0);
  ntfs::VolumeReader reader();

 private:
  int descriptor_ = -1;
  std::uint64_t offset_ = 0;
  std::uint64_t size_ = 0;
};

// A volume access that hands out one reader for any drive, or refuses.
struct FixedVolumeAccess {
  ntfs::VolumeReader reader;
  std::string refusal;  // non-empty: every open is refused with it
  int opens = 0;
  int closes = 0;

  VolumeAccess access();
};

// Listing calls that find nothing, for a scanner that is meant to read the
// table: a walk after a refusal finds its root missing.
const ScanPlatform& nothing_to_list();

// Reads a whole file; empty when it cannot.
std::vector<std::uint8_t> read_whole_file(const std::string& path);

}  // namespace mirrow::testing
