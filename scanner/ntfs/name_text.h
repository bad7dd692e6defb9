#pragma once
// The text of every name in the table, packed in blocks of 64 Ki units: a
// name never straddles two blocks, so one 32-bit offset finds it.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace mirrow::ntfs {

class NameText {
 public:
  static constexpr std::size_t block_units = std::size_t{1} << 16;

  // Copies length units (little-endian bytes) and returns their offset.
  std::uint32_t add(const std::uint8_t* units, std::size_t length) {
    if (blocks_.empty() || used_ + length > block_units) {
      blocks_.push_back(std::make_unique_for_overwrite<char16_t[]>(block_units));
      used_ = 0;
    }
    char16_t* to = blocks_.back().get() + used_;
    for (std::size_t i = 0; i < length; ++i) to[i] = static_cast<char16_t>(units[2 * i] | (units[2 * i + 1] << 8));
    const std::uint64_t offset = (blocks_.size() - 1) * block_units + used_;
    used_ += length;
    return static_cast<std::uint32_t>(offset);
  }

  const char16_t* at(std::uint32_t offset) const { return blocks_[offset >> 16].get() + (offset & 0xFFFF); }

  // Whether another name of length units still gets an offset.
  bool has_room(std::size_t length) const {
    return blocks_.size() < (std::size_t{1} << 16) || used_ + length <= block_units;
  }

  std::size_t memory_bytes() const noexcept { return blocks_.size() * block_units * sizeof(char16_t); }

  void clear() noexcept {
    blocks_.clear();
    blocks_.shrink_to_fit();
    used_ = 0;
  }

 private:
  std::vector<std::unique_ptr<char16_t[]>> blocks_;
  std::size_t used_ = 0;
};

}  // namespace mirrow::ntfs
