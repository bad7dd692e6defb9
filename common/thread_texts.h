#pragma once
// Text that a library keeps for each calling thread (a last error text, a
// report), valid until the same thread's next call.
//
// The texts live in one table keyed by thread id, not in thread_local
// objects: a thread_local with a destructor inside a DLL leaves every thread
// that touched it hanging at its exit once the host has unloaded the DLL.
// The DLL forgets a thread's text when that thread ends (DllMain, thread
// detach); whatever is left goes with the library.
#include <cstdint>
#include <string>

namespace mirrow {

// An id of the calling thread, unique among live threads.
std::uint64_t current_thread_key() noexcept;

// The calling thread's text, created empty on first use. Throws when memory
// runs out. The reference stays valid until this thread's text is forgotten.
std::string& this_thread_text();

// The calling thread's text, or "" when it has none.
const char* this_thread_text_or_empty() noexcept;

// Empties the calling thread's text, if it has one.
void clear_this_thread_text() noexcept;

// Drops the calling thread's text; called as the thread ends.
void forget_this_thread_text() noexcept;

}  // namespace mirrow
