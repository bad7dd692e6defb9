#pragma once
// The per-thread result buffer of the inspector's exports. Each report text
// stays owned by the library and valid until the same thread's next call;
// the host copies it and never frees it.
#include <cstdint>
#include <string>

namespace mirrow::inspector {

// The calling thread's own buffer.
std::string& result_text();

// Builds a report into a fresh string and, on success, moves it into the
// thread's buffer and stores its length (without the NUL) through
// out_length. Any exception, such as running out of memory, yields null and
// length 0. A null out_length is tolerated: the text is still returned.
template <typename Build>
const char* publish_report(std::uint64_t* out_length, Build&& build) noexcept {
  try {
    std::string text;
    build(text);
    std::string& buffer = result_text();
    buffer = std::move(text);
    if (out_length != nullptr) *out_length = buffer.size();
    return buffer.c_str();
  } catch (...) {
    if (out_length != nullptr) *out_length = 0;
    return nullptr;
  }
}

}  // namespace mirrow::inspector
