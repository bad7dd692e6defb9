#pragma once
// Memory for names, kept for reuse. Under a flood of new files the engine
// makes and frees hundreds of thousands of names a second, often ten
// thousand at once when a full binding map gives up its oldest tenth; the
// general allocator then spends more time sorting those blocks into its
// bins than the engine spends on the names. Here a freed block goes onto a
// list of its size class and the next name of that class takes it back,
// usually while it is still in the cache from being freed.
//
// Thread-safe: names die on whatever thread drops the last reference. The
// blocks kept are bounded, the rest go back to the general allocator.
#include <array>
#include <cstddef>

#include "common/short_lock.h"

namespace mirrow {

class NameBlocks {
 public:
  static constexpr std::size_t class_bytes = 32;      // block sizes are multiples of this
  static constexpr std::size_t largest_kept = 1024;   // larger blocks are never kept
  static constexpr std::size_t kept_limit = 4194304;  // bytes of free blocks kept at most

  NameBlocks() = default;
  NameBlocks(const NameBlocks&) = delete;
  NameBlocks& operator=(const NameBlocks&) = delete;
  ~NameBlocks();

  // A block of at least bytes; throws std::bad_alloc as operator new does.
  void* take(std::size_t bytes);
  // Gives back a block that take handed out for the same bytes.
  void give(void* block, std::size_t bytes) noexcept;

  std::size_t kept_bytes() const noexcept { return kept_bytes_; }

 private:
  struct FreeBlock {
    FreeBlock* next;
  };
  static constexpr std::size_t class_count = largest_kept / class_bytes;

  static std::size_t rounded(std::size_t bytes) noexcept {
    return (bytes + class_bytes - 1) / class_bytes * class_bytes;
  }

  ShortLock lock_;
  std::array<FreeBlock*, class_count> free_{};  // by rounded size / class_bytes - 1
  std::size_t kept_bytes_ = 0;
};

}  // namespace mirrow
