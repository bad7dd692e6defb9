#pragma once
// Walks the change records that one directory-change request returned: a
// chain of records, each a next-entry offset (u32, 0 for the last), an
// action (u32), a name length in bytes (u32) and that many bytes of UTF-16
// name relative to the watched directory. The bytes come from the system
// but are checked as untrusted input: nothing is read outside them.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

namespace mirrow {

inline constexpr std::size_t change_record_header_bytes = 12;

enum class ChangeAction : std::uint32_t { added = 1, removed = 2, modified = 3, renamed_old = 4, renamed_new = 5 };

enum class WalkEnd {
  complete,   // every record was handed out
  malformed,  // a record ran past the end, had an odd name length or a bad next offset
  stopped,    // the visitor asked to stop
};

// Hands each well-formed record to visit(action, name) in order; visit
// returns false to stop. Records before a malformed one are handed out.
WalkEnd walk_change_buffer(const std::uint8_t* bytes, std::size_t size,
                           const std::function<bool(std::uint32_t action, std::u16string_view name)>& visit);

}  // namespace mirrow
