#pragma once
// What the host says to and hears from FreezeGuard.exe: the target's identity
// taken from the snapshot report, the five arguments, and the guard's JSON
// lines and exit codes turned into sentences.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mirrow::host {

struct FreezeTarget {
  std::uint32_t pid = 0;
  std::uint64_t created = 0;  // creation ticks, exactly as the snapshot gives them
  std::u16string path;
  std::u16string name;
  std::u16string verdict;  // empty when the classifier clears it
};

struct TargetLookup {
  std::optional<FreezeTarget> target;
  std::string problem;  // UTF-8, when there is no target
};

// Finds `pid` in a tl_snapshot text.
TargetLookup find_freeze_target(std::string_view snapshot, std::uint32_t pid);

// A number as the guard reads it: plain decimal digits.
std::u16string decimal16(std::uint64_t value);

// pid, creation ticks, lease, image path, journal path.
std::vector<std::u16string> guard_arguments(const FreezeTarget& target, std::uint32_t lease,
                                            const std::u16string& journal);

// One line of the guard's output as a sentence in UTF-8, e.g.
// "frozen", "resumed (lease expired), status 0",
// "refused: Нет подтверждённых метаданных"; a line it does not know stands
// as it came (the caller adds the "guard: " prefix to every line).
std::string describe_guard_line(std::string_view line);

// The guard's exit code as a sentence.
std::string describe_guard_exit(std::uint32_t code);

// The self-test's summary line as a sentence with the four statuses; nothing
// when the line is not a summary.
std::optional<std::string> describe_self_test_summary(std::string_view line);

// A Windows command line: the program and each argument quoted so that the
// C runtime's splitting gives them back unchanged (back-slashes doubled only
// before a quote, quotes escaped, empty arguments as "").
std::u16string windows_command_line(std::u16string_view program, const std::vector<std::u16string>& arguments);

// The bytes of the control pipe: a heartbeat keeps the lease alive, "R" asks
// for the resume.
inline constexpr char kHeartbeatByte = 'h';
inline constexpr char kResumeByte = 'R';
inline constexpr std::uint64_t kHeartbeatIntervalMs = 5000;

}  // namespace mirrow::host
