#include <functional>
#include <thread>

#include "common/thread_texts.h"

namespace mirrow {

std::uint64_t current_thread_key() noexcept { return std::hash<std::thread::id>{}(std::this_thread::get_id()); }

}  // namespace mirrow
