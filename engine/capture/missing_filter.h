#pragma once
// A quick "certainly not watched" for the missing paths the host watches.
// Every create asks whether its path is one of them, and nearly every
// answer is no; the set itself sits behind a lock and its slots lie at
// random places in memory. The filter keeps two bits per watched path,
// chosen by the path's hash, in 64 KiB that stay in the cache: a path with
// either bit clear is not in the set, and only the others take the lock and
// look. Bits are set once the path is in the set and cleared only with the
// whole set, so a path in the set always finds both of its bits.
//
// Thread-safe: the bits are atomic words, so the decoding thread reads them
// without the lock that their writers hold.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>

namespace mirrow {

class MissingFilter {
 public:
  static constexpr unsigned bit_count_log2 = 19;  // 512 Ki bits: about 2 % false yes at 40,000 paths

  // For a path in the set; the caller holds the set's lock.
  void add(std::uint64_t path_hash);
  // With the whole set emptied; the caller holds the set's lock.
  void clear() noexcept;
  // False only when no path of this hash was added since the last clear.
  bool may_contain(std::uint64_t path_hash) const noexcept {
    const Words* words = words_.load(std::memory_order_acquire);
    if (words == nullptr) return false;
    const auto [first, second] = bits_of(path_hash);
    return has(*words, first) && has(*words, second);
  }

 private:
  static constexpr std::size_t word_count = (std::size_t{1} << bit_count_log2) / 64;
  using Words = std::array<std::atomic<std::uint64_t>, word_count>;

  static std::pair<std::uint32_t, std::uint32_t> bits_of(std::uint64_t hash) noexcept {
    const std::uint64_t mixed = hash * 0x9E3779B97F4A7C15ULL;
    return {static_cast<std::uint32_t>(mixed >> (64 - bit_count_log2)),
            static_cast<std::uint32_t>(mixed >> (32 - bit_count_log2)) & ((1u << bit_count_log2) - 1)};
  }
  static bool has(const Words& words, std::uint32_t bit) noexcept {
    return (words[bit / 64].load(std::memory_order_relaxed) >> (bit % 64)) & 1u;
  }

  // Made on the first add, so that an engine without watched paths spends
  // nothing on them; kept until the filter dies.
  std::unique_ptr<Words> storage_;
  std::atomic<Words*> words_{nullptr};
};

}  // namespace mirrow
