#pragma once
// mirrowctl --version: the version mirrowctl was built as, beside the file
// versions that the libraries and the guard carry in their version
// resources, and the engine's interface version. A host folder with a stale
// file is said to be one plainly. Pure, so every wording is tested
// natively; version_command_win.cpp reads the files.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mirrow::host {

// The interface version (vt_abi) of the Vantrel.dll this mirrowctl binds.
inline constexpr std::uint32_t kVantrelInterface = 1;

struct FileVersion {
  std::uint16_t major = 0;
  std::uint16_t minor = 0;
  std::uint16_t patch = 0;
  std::uint16_t build = 0;
  friend bool operator==(const FileVersion&, const FileVersion&) = default;
};

// "1.2.3", and "1.2.3.4" when the fourth part is not 0.
std::string version_text(const FileVersion& version);

enum class FileState { read, missing, no_version };

struct ShippedFile {
  std::string name;  // "Vantrel.dll"
  FileState state = FileState::missing;
  FileVersion version;  // when read
};

struct VersionFacts {
  FileVersion program;                  // the project version mirrowctl was built as
  std::vector<ShippedFile> files;       // the files beside mirrowctl.exe
  std::optional<std::uint32_t> vt_abi;  // nothing when it could not be asked
  std::string vt_abi_problem;           // why not, UTF-8; empty when Vantrel.dll is missing
};

struct VersionReport {
  std::string text;
  int exit_code = 0;  // 0 all agree, 1 a mismatch, 3 a file is missing
};

VersionReport version_report(const VersionFacts& facts);

}  // namespace mirrow::host
