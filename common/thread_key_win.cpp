#include <windows.h>

#include "common/thread_texts.h"

namespace mirrow {

std::uint64_t current_thread_key() noexcept { return GetCurrentThreadId(); }

}  // namespace mirrow
