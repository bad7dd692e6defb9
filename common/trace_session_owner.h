#pragma once
// Which trace sessions belong to the engine, and the ownership mark that
// tells a live session from one whose process has gone.
//
// A real-time trace session belongs to the machine, not to the process that
// started it: when that process dies the session keeps running. So beside
// every session it starts, the engine holds a named mutex derived from the
// session name. The system destroys the mutex with the last handle to it,
// however the process ends, so an engine session whose mark cannot be found
// has no owner left. Kept free of system headers so every program that needs
// the rule (the engine, the reference host) shares it and tests it natively.
#include <cstdint>
#include <string>
#include <string_view>

namespace mirrow {

// Every engine session name is one of these prefixes followed by a GUID in
// registry form.
inline constexpr std::u16string_view names_session_prefix = u"VextrumMirrowNames-";
inline constexpr std::u16string_view capture_session_prefix = u"VextrumMirrowNative-";

// True when the name starts with either prefix; a prefix elsewhere in the
// name does not count.
bool is_engine_session_name(std::u16string_view session_name);

// The mark is first made in the machine-wide namespace so that engines of
// every logon session see it; where that namespace is refused, in the
// namespace of the caller's own logon session.
inline constexpr std::u16string_view global_mark_namespace = u"Global\\";
inline constexpr std::u16string_view local_mark_namespace = u"Local\\";

struct OwnerMarkNames {
  std::u16string global;  // "Global\" + session name: made and looked up first
  std::u16string local;   // "Local\" + session name: the fallback
};
OwnerMarkNames owner_mark_names(std::u16string_view session_name);

// What one attempt to open a mark by name says about the session's owner.
enum class MarkLookup {
  owner_alive,  // opened, or refused: the object exists
  absent,       // no object of that name
  unknown,      // any other failure: nothing can be concluded
};
// `opened`: the open returned a handle; otherwise `error` is its last error.
MarkLookup classify_mark_open(bool opened, std::uint32_t error);

// Whether a session has lost its owner, from the lookups of its two mark
// names: only when both namespaces report no such object. An unclear answer
// leaves the session alone, since stopping a live capture is worse than
// leaving an orphan for a later sweep.
bool session_is_orphaned(MarkLookup global, MarkLookup local);

}  // namespace mirrow
