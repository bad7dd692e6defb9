#pragma once
// A growing array in fixed blocks: it never copies what it holds and never
// holds more than one block beyond its size, so a table of millions of
// entries grows to the memory it needs and no more.
#include <cstddef>
#include <memory>
#include <vector>

namespace mirrow::ntfs {

template <typename T, std::size_t BlockShift = 14>
class ChunkedArray {
 public:
  static constexpr std::size_t block_size = std::size_t{1} << BlockShift;

  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }

  T& operator[](std::size_t i) noexcept { return blocks_[i >> BlockShift][i & (block_size - 1)]; }
  const T& operator[](std::size_t i) const noexcept { return blocks_[i >> BlockShift][i & (block_size - 1)]; }

  T& push_back(const T& value) {
    if ((size_ & (block_size - 1)) == 0 && (size_ >> BlockShift) == blocks_.size()) {
      blocks_.push_back(std::make_unique_for_overwrite<T[]>(block_size));
    }
    T& slot = (*this)[size_];
    slot = value;
    ++size_;
    return slot;
  }

  // Bytes held, blocks and their index together.
  std::size_t memory_bytes() const noexcept {
    return blocks_.size() * (block_size * sizeof(T) + sizeof(std::unique_ptr<T[]>));
  }

  void clear() noexcept {
    blocks_.clear();
    blocks_.shrink_to_fit();
    size_ = 0;
  }

 private:
  std::vector<std::unique_ptr<T[]>> blocks_;
  std::size_t size_ = 0;
};

}  // namespace mirrow::ntfs
