#pragma once
// What a scanner export drives: before the first record it chooses between
// reading the volume's master file table (TableScan) and walking the tree
// with directory listings (Scanner), and from then on runs the one chosen.
// The table is tried only for a root on a drive letter whose volume the
// access opens; a refusal while the table is being read, before anything
// was reported, hands the scan to the walk, which starts from nothing.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "scanner/scan_platform.h"
#include "scanner/scanner.h"
#include "scanner/table_scan.h"
#include "scanner/volume_access.h"

namespace mirrow {

enum class ScanWay { undecided, table, walk };

class ScanDriver {
 public:
  // volumes null: always the walk.
  ScanDriver(std::u16string root, const ScanPlatform& platform, const VolumeAccess* volumes);
  ~ScanDriver();
  ScanDriver(const ScanDriver&) = delete;
  ScanDriver& operator=(const ScanDriver&) = delete;

  void exclude(std::u16string path);
  const std::string& step();
  void count_error() noexcept;

  ScanWay way() const { return way_; }
  // Why the scan walks (empty while undecided or reading the table).
  const std::string& reason() const { return reason_; }
  // {"way":"table"|"walk"|"undecided","reason":"..."}
  std::string way_text() const;

  const TableScan* table() const { return table_.get(); }

 private:
  void choose();
  void walk_because(std::string reason);
  void close_volume() noexcept;

  std::u16string root_;  // as spelled for the system
  const ScanPlatform& platform_;
  const VolumeAccess* volumes_;
  ntfs::VolumeReader reader_;
  bool volume_open_ = false;
  std::vector<std::u16string> exclusions_;  // normalised
  std::uint64_t outside_errors_ = 0;        // failed steps and exclusions, carried into the walk
  ScanWay way_ = ScanWay::undecided;
  std::string reason_;
  std::unique_ptr<TableScan> table_;
  std::unique_ptr<Scanner> walk_;
};

}  // namespace mirrow
