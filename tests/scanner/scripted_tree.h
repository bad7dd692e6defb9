#pragma once
// An in-memory directory tree behind the scanner's platform table, with
// scripted failures, so that every branch of the walk can be driven without
// a file system. Paths are matched case-insensitively, as on Windows, unless
// the tree is made case-sensitive.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "scanner/scan_platform.h"
#include "scanner/scanner.h"

namespace mirrow::scan_test {

class ScriptedTree {
 public:
  ScriptedTree();

  // Names that differ only in case become different entries, as in a
  // directory with per-directory case sensitivity or any Linux directory
  // under Wine. Call before adding anything.
  void make_case_sensitive() { case_sensitive_ = true; }

  // Adds a directory (listed in its parent in the order added); the parent
  // must exist already unless the path is a drive or share root.
  void add_directory(const std::u16string& path, std::uint32_t attributes = attribute_directory);
  void add_file(const std::u16string& path, std::uint64_t size, std::int64_t write_time = 0,
                std::int64_t creation_time = 0, std::uint32_t attributes = 0);
  // A directory whose listing holds count generated subdirectories d0, d1, ...
  void add_wide_directory(const std::u16string& path, std::uint32_t count);

  void fail_open(const std::u16string& directory, std::uint32_t error);
  // The listing of directory fails with error after yielding count entries.
  void fail_next_after(const std::u16string& directory, std::size_t count, std::uint32_t error);
  void make_unreadable(const std::u16string& path);
  // The next call of next_entry throws std::bad_alloc.
  void throw_on_next_call() { throw_on_next_ = true; }

  const ScanPlatform& platform() const { return platform_; }

  std::size_t opens = 0;
  std::size_t nexts = 0;
  std::size_t open_listings = 0;
  std::vector<std::u16string> attribute_queries;  // long-path forms asked for
  std::vector<std::u16string> opened;             // directories whose listing was opened

 private:
  struct Node {
    std::u16string name;
    std::uint32_t attributes = 0;
    std::uint64_t size = 0;
    std::int64_t write_time = 0;
    std::int64_t creation_time = 0;
    bool readable = true;
    std::vector<std::u16string> children;  // keys, in listing order
    std::uint32_t generated_children = 0;
    std::uint32_t open_error = 0;
    std::size_t fail_after = SIZE_MAX;
    std::uint32_t next_error = 0;
  };
  struct Listing {
    const Node* directory;
    std::size_t position;  // entries yielded so far
  };

  std::u16string key_of(std::u16string path) const;
  static std::u16string parent_of(const std::u16string& key);
  static std::u16string name_of(const std::u16string& path);
  Node& add_node(const std::u16string& path, std::uint32_t attributes);
  Node& node(const std::u16string& path);
  bool entry_at(const Node& directory, std::size_t index, ScanEntry& entry) const;
  std::size_t entry_count(const Node& directory) const;

  static ListingHandle open_listing(void* context, const std::u16string& pattern, ScanEntry& first,
                                    std::uint32_t& error);
  static bool next_entry(void* context, ListingHandle listing, ScanEntry& entry, std::uint32_t& error);
  static void close_listing(void* context, ListingHandle listing);
  static bool read_attributes(void* context, const std::u16string& path, std::uint32_t& attributes);

  std::map<std::u16string, Node> nodes_;
  ScanPlatform platform_;
  bool throw_on_next_ = false;
  bool case_sensitive_ = false;
};

// Runs steps until a batch says done (at most limit steps) and returns them all.
std::vector<std::string> steps_until_done(Scanner& scanner, std::size_t limit = 10000);

}  // namespace mirrow::scan_test
