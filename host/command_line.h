#pragma once
// The command line of mirrowctl: one subcommand and its options, checked
// completely before anything is loaded or started.
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace mirrow::host {

enum class Subcommand { none, scan, watch, ps, mem, load, crashes, freeze, selftest, check, recover, replay, record };

struct Request {
  Subcommand command = Subcommand::none;
  bool help = false;  // --help: print the usage of `command` (or the overview) and stop
  bool version = false;  // --version alone: print the versions of mirrowctl and the files beside it
  bool json = false;
  std::vector<std::u16string> directories;  // scan: exactly one; watch: one or more
  std::vector<std::u16string> exclusions;
  std::uint64_t top = 10;
  std::uint64_t seconds = 0;  // watch: 0 runs until Ctrl+C
  bool capture = false;
  std::uint64_t samples = 2;
  std::uint32_t pid = 0;
  std::uint32_t lease = 0;
  std::u16string journal;
  bool dry_run = false;  // recover: list the stranded freezes, resume nothing
  bool diagnostics = false;  // check: add the engine's diagnostics document of the capture check
  std::u16string trace_file;              // replay, record: the .etl file
  std::vector<std::u16string> roots;      // replay: --root; none means every drive
  std::vector<std::u16string> missing;    // replay, record: --missing
  std::vector<std::u16string> devices;    // replay: --device DEV=DRIVE
  // scan: an image file read as the volume of DIR's drive, from this offset on
  std::u16string ntfs_image;
  std::uint64_t ntfs_image_offset = 0;
  bool walk = false;     // scan: always walk the folders, never read the table
  bool batches = false;  // scan: print every batch as it came instead of the summary
};

struct UsageError {
  Subcommand command = Subcommand::none;  // whose usage to show beside the message
  std::string message;                    // UTF-8
};

using ParsedCommandLine = std::variant<Request, UsageError>;

// `arguments` excludes the program name.
ParsedCommandLine parse_command_line(const std::vector<std::u16string>& arguments);

// The usage text of one subcommand, or the overview for Subcommand::none.
std::string usage_text(Subcommand command);

std::string_view subcommand_name(Subcommand command);

// Exit codes of mirrowctl.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;          // the work itself failed (or a freeze was refused)
inline constexpr int kExitUsage = 2;           // bad arguments
inline constexpr int kExitMissingLibrary = 3;  // a DLL or FreezeGuard.exe is missing or incomplete

}  // namespace mirrow::host
