#include "host/drain_rounds.h"

namespace mirrow::host {

bool DrainRound::another_after(bool readable, std::uint64_t entries) {
  ++batches_;
  if (!readable || entries == 0) return false;
  return batch_limit_ == 0 || batches_ < batch_limit_;
}

}  // namespace mirrow::host
