#pragma once
// Exception containment for the exports: nothing thrown inside the library
// ever reaches the host.
#include <cstdint>

#include "engine/core/counters.h"

namespace mirrow {

// Runs body; any exception becomes failure.
template <typename Result, typename Body>
Result contained(Result failure, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

// As contained, and also adds 1 to the engine's errors on failure.
template <typename Result, typename Body>
Result contained_counted(Counters& counters, Result failure, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    counters.add(Counter::errors);
    return failure;
  }
}

template <typename Body>
void contained_counted(Counters& counters, Body&& body) noexcept {
  try {
    body();
  } catch (...) {
    counters.add(Counter::errors);
  }
}

}  // namespace mirrow
