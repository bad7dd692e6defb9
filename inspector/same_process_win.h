#pragma once
// Re-identifying a process of the table: an id alone may have passed to a
// newer process since the table was built, the creation time tells them apart.
#include <cstdint>

#include "common/unique_handle.h"

namespace mirrow::inspector {

// The process opened with the limited query right, if it is alive and was
// created at exactly `creation_time` (which must be known, i.e. not 0);
// otherwise an empty handle.
UniqueHandle open_same_process(std::uint32_t pid, std::uint64_t creation_time);

bool still_same_process(std::uint32_t pid, std::uint64_t creation_time);

}  // namespace mirrow::inspector
