#include "engine/core/name_blocks.h"

#include <mutex>
#include <new>
#include <utility>

namespace mirrow {

NameBlocks::~NameBlocks() {
  for (FreeBlock*& head : free_) {
    while (head != nullptr) ::operator delete(std::exchange(head, head->next));
  }
}

void* NameBlocks::take(std::size_t bytes) {
  const std::size_t size = rounded(bytes);
  if (size <= largest_kept && size != 0) {
    std::lock_guard hold(lock_);
    FreeBlock*& head = free_[size / class_bytes - 1];
    if (head != nullptr) {
      kept_bytes_ -= size;
      FreeBlock* const block = std::exchange(head, head->next);
      // The next name of this size comes a few events later and writes its
      // whole block: the block that is now first is fetched for it.
      if (head != nullptr) {
        for (std::size_t line = 0; line < size; line += 64) __builtin_prefetch(reinterpret_cast<char*>(head) + line, 1);
      }
      return block;
    }
  }
  return ::operator new(size);
}

void NameBlocks::give(void* block, std::size_t bytes) noexcept {
  const std::size_t size = rounded(bytes);
  if (size <= largest_kept && size != 0) {
    std::lock_guard hold(lock_);
    if (kept_bytes_ + size <= kept_limit) {
      FreeBlock*& head = free_[size / class_bytes - 1];
      head = ::new (block) FreeBlock{head};
      kept_bytes_ += size;
      return;
    }
  }
  ::operator delete(block);
}

}  // namespace mirrow
