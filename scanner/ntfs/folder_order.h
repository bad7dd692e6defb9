#pragma once
// A folder's entries put in the volume's collation order, as its index
// holds them and a listing returns them. Names in one folder often share a
// long beginning ("file0001.dat", ...): each is given a key of the four
// upper-cased units after the part all share, and only names whose keys tie
// are compared whole.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "scanner/ntfs/collation.h"
#include "scanner/ntfs/file_table.h"

namespace mirrow::ntfs {

class FolderOrder {
 public:
  // Sorts the name indices in [begin, end) of table's names.
  void sort(std::uint32_t* begin, std::uint32_t* end, const FileTable& table, const Collation& collation);

  // The scratch space, as large as the largest folder sorted so far.
  void release() { std::vector<Item>().swap(items_); }

  // Bytes the sort of a folder of that many entries holds at its peak: the
  // items kept for the next folder, and each name's text and length while
  // the shared beginning is found.
  static constexpr std::size_t scratch_bytes(std::size_t entries) {
    return entries * (sizeof(Item) + sizeof(const char16_t*) + sizeof(std::uint32_t));
  }

 private:
  struct Item {
    std::uint64_t key;
    const char16_t* text;
    std::uint32_t index;
    std::uint32_t length;
  };

  std::vector<Item> items_;
};

}  // namespace mirrow::ntfs
