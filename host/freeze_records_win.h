#pragma once
// The freeze records on disk: the per-user folder, the image file kept
// beside each journal, and the guard's recovery form run on one record.
#include <optional>
#include <string>

#include "host/freeze_records.h"
#include "host/guard_dialogue.h"

namespace mirrow::host {

// %LOCALAPPDATA%\Mirrow\freezes; nothing when LOCALAPPDATA is not set.
std::optional<std::u16string> user_freezes_folder();

// Creates the folder when needed and writes the target's image file; returns
// the journal path to hand to the guard, or nothing with `problem` (UTF-8).
std::optional<std::u16string> keep_freeze_record(const FreezeTarget& target, std::string& problem);

// After a guard that never froze (refused, could not pin): the image file
// goes again unless a journal of this target exists.
void drop_record_without_journal(const std::u16string& journal);

// The image path kept beside a journal; nothing when it is missing or empty.
std::optional<std::u16string> recorded_image(const std::u16string& folder, const FreezeIdentity& identity);

// The journal's last line is the frozen line: a guard was killed while it
// held the target frozen, or a live guard holds it now.
bool journal_ends_frozen(const std::u16string& journal);

// Runs the guard's recovery form on one record and reads its answer; nothing
// with `problem` (UTF-8) when the guard cannot be started.
std::optional<RecoveryResult> run_recovery_form(const FreezeIdentity& identity, const std::u16string& image,
                                                const std::u16string& journal, std::string& problem);
}  // namespace mirrow::host
