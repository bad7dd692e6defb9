#include "host/version_report.h"

#include "host/command_line.h"
#include "host/text_table.h"

namespace mirrow::host {
namespace {

std::string state_text(const ShippedFile& file) {
  switch (file.state) {
    case FileState::read: return version_text(file.version);
    case FileState::missing: return "missing";
    case FileState::no_version: return "no version resource";
  }
  return {};
}

std::optional<std::string> file_mismatch(const ShippedFile& file, const FileVersion& program) {
  switch (file.state) {
    case FileState::missing: return file.name + " is missing beside mirrowctl.exe";
    case FileState::no_version: return file.name + " has no version resource";
    case FileState::read:
      if (file.version == program) return std::nullopt;
      return file.name + " is " + version_text(file.version) + " where mirrowctl is " + version_text(program);
  }
  return std::nullopt;
}

std::optional<std::string> interface_mismatch(const VersionFacts& facts) {
  if (!facts.vt_abi) {
    if (facts.vt_abi_problem.empty()) return std::nullopt;  // its file is missing, said already
    return "vt_abi could not be read: " + facts.vt_abi_problem;
  }
  if (*facts.vt_abi == kVantrelInterface) return std::nullopt;
  return "vt_abi is " + std::to_string(*facts.vt_abi) + ", mirrowctl binds " + std::to_string(kVantrelInterface);
}

}  // namespace

std::string version_text(const FileVersion& version) {
  std::string text =
      std::to_string(version.major) + "." + std::to_string(version.minor) + "." + std::to_string(version.patch);
  if (version.build != 0) text += "." + std::to_string(version.build);
  return text;
}

VersionReport version_report(const VersionFacts& facts) {
  TextTable table({{"FILE"}, {"VERSION"}});
  std::vector<std::string> mismatches;
  bool missing = false;
  for (const ShippedFile& file : facts.files) {
    table.add_row({file.name, state_text(file)});
    if (auto mismatch = file_mismatch(file, facts.program)) mismatches.push_back(std::move(*mismatch));
    missing = missing || file.state == FileState::missing;
  }
  if (auto mismatch = interface_mismatch(facts)) mismatches.push_back(std::move(*mismatch));

  VersionReport report;
  report.text = "mirrowctl " + version_text(facts.program) + "\n" + table.render() +
                "vt_abi: " + (facts.vt_abi ? std::to_string(*facts.vt_abi) : std::string("unknown")) + "\n";
  for (const std::string& mismatch : mismatches) report.text += "mismatch: " + mismatch + "\n";
  if (mismatches.empty()) {
    report.text += "every file beside mirrowctl.exe is of version " + version_text(facts.program) + "\n";
  } else {
    report.text += "install mirrowctl.exe and the files beside it together, from one release\n";
  }
  report.exit_code = missing ? kExitMissingLibrary : mismatches.empty() ? kExitOk : kExitFailed;
  return report;
}

}  // namespace mirrow::host
