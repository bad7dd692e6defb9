// table_batches IMAGE[@OFFSET] ROOT [--exclude PATH]...
// Scans ROOT (a Windows path such as N:\ or N:\dir) with the scanner's
// driver, the image file standing for the volume of ROOT's drive, and prints
// every batch as the scanner wrote it, one per line; the way the scan went
// goes to stderr. The image tests compare its lines with the walk's and
// with an independent NTFS reader.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/utf16.h"
#include "scanner/scan_driver.h"
#include "support/volume_images.h"

using namespace mirrow;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: table_batches IMAGE[@OFFSET] ROOT [--exclude PATH]...\n");
    return 2;
  }
  std::string image = argv[1];
  std::uint64_t offset = 0;
  if (const std::size_t at = image.rfind('@'); at != std::string::npos) {
    offset = std::strtoull(image.c_str() + at + 1, nullptr, 10);
    image.resize(at);
  }
  testing::FileVolume volume;
  if (!volume.open(image, offset)) {
    std::fprintf(stderr, "cannot open %s\n", image.c_str());
    return 1;
  }
  testing::FixedVolumeAccess fixed;
  fixed.reader = volume.reader();
  const VolumeAccess access = fixed.access();
  ScanDriver driver(utf16_from_utf8(argv[2]), testing::nothing_to_list(), &access);
  for (int i = 3; i + 1 < argc; i += 2) {
    if (std::string(argv[i]) == "--exclude") driver.exclude(utf16_from_utf8(argv[i + 1]));
  }
  for (;;) {
    const std::string& batch = driver.step();
    std::fwrite(batch.data(), 1, batch.size(), stdout);
    std::fputc('\n', stdout);
    if (batch.find("\"done\":true") != std::string::npos) break;
  }
  std::fprintf(stderr, "%s\n", driver.way_text().c_str());
  return 0;
}
