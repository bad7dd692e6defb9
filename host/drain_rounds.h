#pragma once
// When a drain round goes on asking the engine for the next batch. The engine
// cuts a batch by record count and by size, so a short batch does not mean the
// queue is empty: only an empty batch does. A round on the once-a-second tick
// stops after a bounded number of batches so that a flood cannot hold the
// loop (and Ctrl+C) for ever; the last round, after the engine has stopped,
// drains until nothing is left.
#include <cstddef>
#include <cstdint>

namespace mirrow::host {

inline constexpr std::size_t kBatchesPerTick = 64;

class DrainRound {
 public:
  // `batch_limit` of 0 means no limit (the round after the engine stopped).
  explicit DrainRound(std::size_t batch_limit) : batch_limit_(batch_limit) {}
  static DrainRound per_tick() { return DrainRound(kBatchesPerTick); }
  static DrainRound until_empty() { return DrainRound(0); }

  // Called after each drain with what it returned; true when the round asks
  // for another batch. `readable` is false when the engine gave no text or
  // the text was no drain batch, `entries` counts records, malformed ones too.
  bool another_after(bool readable, std::uint64_t entries);

  std::size_t batches() const { return batches_; }

 private:
  std::size_t batch_limit_;
  std::size_t batches_ = 0;
};

}  // namespace mirrow::host
