#pragma once
// The freeze verdict: whether a process may be suspended, and if not, the
// Russian reason shown to the user. The empty text means nothing speaks
// against freezing it; missing facts always lead to a refusal.
//
// The rules are a pure function of the facts, the table of the same pass, the
// anchor and the caller's environment (VerdictEnvironment), so they build
// natively (mirrow_classifier). The overload without an environment reads the
// real one on every call and lives in mirrow_classifier_win (Windows only).
// Callers that put a reason into JSON quote it with json_quote
// (common/json_text.h), which escapes the Cyrillic letters.
#include <cstdint>
#include <string>
#include <string_view>

#include "classifier/process_facts.h"
#include "common/lowercase.h"  // to_lower: whole-string lower-casing with the platform's rules

namespace mirrow {

// What the verdict needs to know about the process that runs it.
struct VerdictEnvironment {
  std::uint32_t own_pid = 0;
  std::uint32_t own_session = 0;       // 0 when the session could not be read
  std::u16string windows_directory;    // as the system reports it; empty when it could not be read
};

// The reason why `facts` must not be frozen, or the empty text when it may
// be. `table` is the table of the same collection pass; `anchor_pid` is the
// process on whose behalf the check runs (FreezeGuard: its owner; Telvyn: the
// process that loaded the library). The first rule that applies decides.
std::u16string protection_reason(const ProcessFacts& facts, const ProcessTable& table,
                                 std::uint32_t anchor_pid, const VerdictEnvironment& environment);

// True when the lower-cased name is one of the user-facing applications
// (explorer.exe, browsers, editors, game launchers) whose descendants the
// user started indirectly.
bool is_known_user_app(std::u16string_view exe_name);

// True when the lower-cased name contains the name of protection software,
// a protected game or one of this system's own components.
bool has_protected_name_fragment(std::u16string_view exe_name);

// --- Real environment (Windows only, defined in mirrow_classifier_win) ---

// The calling process's id and session (0 when unreadable) and the system's
// Windows directory (empty when unreadable), read now.
VerdictEnvironment current_verdict_environment();

// protection_reason with the environment read afresh on this call.
std::u16string protection_reason(const ProcessFacts& facts, const ProcessTable& table,
                                 std::uint32_t anchor_pid);

}  // namespace mirrow
