#pragma once
// A folder's entries put in the volume's collation order, as its index
// holds them and a listing returns them. Names in one folder often share a
// long beginning ("file0001.dat", ...): each is given a key of the four
// upper-cased units after the part all share, and only names whose keys tie
// are compared whole.
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
