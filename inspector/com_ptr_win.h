#pragma once
// COM interface pointers owned through the common Unique template: released
// once, on every path.
#include <unknwn.h>

#include "common/unique_handle.h"

namespace mirrow::inspector {

template <typename Interface>
struct ComTraits {
  using pointer = Interface*;
  static pointer invalid() noexcept { return nullptr; }
  static bool is_valid(pointer p) noexcept { return p != nullptr; }
  static void close(pointer p) noexcept { p->Release(); }
};

template <typename Interface>
using UniqueCom = Unique<ComTraits<Interface>>;

}  // namespace mirrow::inspector
