#pragma once
// The per-user record of every freeze mirrowctl starts, so that a later run
// can resume a target whose guard was killed while it was frozen. In one
// folder (%LOCALAPPDATA%\Mirrow\freezes) each target instance has its guard
// journal <pid>-<creation ticks>.jsonl and beside it <pid>-<creation
// ticks>.image, which holds the target's image path as one JSON string (so
// that every UTF-16 unit of the path comes back as it was, a lone surrogate
// included; records of earlier versions hold plain UTF-8 text).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mirrow::host {

inline constexpr std::u16string_view kJournalSuffix = u".jsonl";
inline constexpr std::u16string_view kImageSuffix = u".image";

// The folder under the user's local application data folder.
std::u16string freezes_folder(std::u16string_view local_app_data);

// One target instance as its record names it.
struct FreezeIdentity {
  std::uint32_t pid = 0;
  std::uint64_t created = 0;
};

// "<pid>-<creation ticks>", the file name of a record without its suffix.
std::u16string record_stem(const FreezeIdentity& identity);

// The identity a journal's file name gives; nothing for any other file
// (plain decimal numbers only, a pid of 0 is no process).
std::optional<FreezeIdentity> identity_of_journal(std::u16string_view file_name);

// The guard's recovery form for one record: "--recover", pid, creation
// ticks, image path, journal path.
std::vector<std::u16string> recovery_arguments(const FreezeIdentity& identity, std::u16string_view image,
                                               std::u16string_view journal);

// The contents of a record's image file for `image_path`.
std::string image_record_text(std::u16string_view image_path);

// The image path kept in a record's image file, without the line ends a
// hand edit may have left: the JSON string, or for an older record its
// UTF-8 text; nothing when that leaves it empty.
std::optional<std::u16string> image_path_of_record(std::string_view contents);

// What became of one stranded freeze.
enum class RecoveryOutcome { resumed, abandoned, guard_running, nothing_to_do, would_recover, failed };

struct RecoveryResult {
  RecoveryOutcome outcome = RecoveryOutcome::failed;
  std::optional<std::int64_t> status;  // the resume status, when the guard reported one
  std::string problem;                 // UTF-8, when the outcome is `failed`
};

// The recovery form's exit code and output lines read as an outcome.
RecoveryResult read_recovery_answer(std::uint32_t exit_code, const std::vector<std::string>& lines);

// Only a failure makes `mirrowctl recover` fail: a target that is gone
// needs nothing more.
inline bool recovery_failed(const RecoveryResult& result) { return result.outcome == RecoveryOutcome::failed; }

// "resumed", "abandoned (the process is gone)", ... for the table.
std::string outcome_text(const RecoveryResult& result);

// One JSON object for --json: pid, created, image, journal, outcome
// ("resumed", "abandoned", "guard_running", "nothing_to_do",
// "would_recover", "failed"), then status and problem when known.
std::string recovery_json_line(const FreezeIdentity& identity, std::u16string_view image,
                               std::u16string_view journal, const RecoveryResult& result);

}  // namespace mirrow::host
