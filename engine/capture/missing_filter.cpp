#include "engine/capture/missing_filter.h"

namespace mirrow {

void MissingFilter::add(std::uint64_t path_hash) {
  if (!storage_) {
    storage_ = std::make_unique<Words>();  // value-initialised: every bit clear
    words_.store(storage_.get(), std::memory_order_release);
  }
  const auto [first, second] = bits_of(path_hash);
  Words& words = *storage_;
  words[first / 64].fetch_or(std::uint64_t{1} << (first % 64), std::memory_order_relaxed);
  words[second / 64].fetch_or(std::uint64_t{1} << (second % 64), std::memory_order_relaxed);
}

void MissingFilter::clear() noexcept {
  if (!storage_) return;
  for (std::atomic<std::uint64_t>& word : *storage_) word.store(0, std::memory_order_relaxed);
}

}  // namespace mirrow
