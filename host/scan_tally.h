#pragma once
// Folds the scanner's batches into what `mirrowctl scan` shows: the running
// totals, the error samples and skipped paths, the recursive size of every
// folder below the root and the largest files.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/paths.h"

namespace mirrow::host {

struct SizedPath {
  std::u16string path;
  std::uint64_t bytes = 0;
  std::uint64_t files = 0;
};

class ScanTally {
 public:
  // Folders tracked at most; beyond it new folders are counted, not sized,
  // so a tree of millions of folders cannot exhaust the host's memory.
  static constexpr std::size_t kFolderCap = 200000;

  // `root` as given to the scanner; it is normalised the way the scanner
  // normalises it, so that the records' paths can be related to it.
  ScanTally(std::u16string root, std::size_t top);

  // Adds one batch text; false (and nothing changed) when it cannot be read.
  bool add_batch(std::string_view text);

  bool done() const { return done_; }
  std::uint64_t files() const { return files_; }
  std::uint64_t bytes() const { return bytes_; }
  std::uint64_t errors() const { return errors_; }
  // True once a folder went unsized because the folder cap was reached.
  bool folder_cap_reached() const { return folder_cap_reached_; }
  const std::u16string& root() const { return root_; }
  const std::vector<std::u16string>& samples() const { return samples_; }
  const std::vector<std::u16string>& skipped() const { return skipped_; }

  // Largest first, at most `top` of them; ties by path.
  std::vector<SizedPath> largest_folders() const;
  std::vector<SizedPath> largest_files() const;

 private:
  void add_file(const std::u16string& path, std::uint64_t size);
  void add_to_folders(std::u16string_view file_path, std::uint64_t size);

  std::u16string root_;
  std::size_t top_;
  bool done_ = false;
  std::uint64_t files_ = 0;
  std::uint64_t bytes_ = 0;
  std::uint64_t errors_ = 0;
  bool folder_cap_reached_ = false;
  std::vector<std::u16string> samples_;
  std::vector<std::u16string> skipped_;
  std::unordered_map<std::u16string, SizedPath, PathHash> folders_;
  std::vector<SizedPath> top_files_;  // a min-heap by size of at most top_ entries
};

}  // namespace mirrow::host
