// mirrowctl --version: the project version it was built as, the file
// versions of the libraries and the guard beside it, and vt_abi.
#include <array>
#include <windows.h>

#include "common/unique_handle.h"
#include "common/utf16.h"
#include "host/commands_win.h"
#include "host/console_win.h"
#include "host/file_version_win.h"
#include "host/libraries_win.h"
#include "host/version_report.h"

namespace mirrow::host {
namespace {

// Vantrel.dll first: vt_abi is asked of it.
constexpr std::array<std::u16string_view, 3> kFilesBeside{u"Vantrel.dll", u"Telvyn.dll", u"FreezeGuard.exe"};

// The file `name` beside mirrowctl.exe: missing, without a version, or its version.
ShippedFile shipped_file(std::u16string_view name) {
  ShippedFile file{utf8_from_utf16(name), FileState::missing, {}};
  const std::u16string path = beside_program(name);
  if (GetFileAttributesW(wide(path.c_str())) == INVALID_FILE_ATTRIBUTES) return file;
  const auto version = VersionResource(std::wstring(wide(path.c_str()))).file_version();
  file.state = version ? FileState::read : FileState::no_version;
  if (version) file.version = *version;
  return file;
}

}  // namespace

int run_version() {
  VersionFacts facts;
  facts.program = {MIRROW_VERSION_MAJOR, MIRROW_VERSION_MINOR, MIRROW_VERSION_PATCH, 0};
  for (const std::u16string_view name : kFilesBeside) facts.files.push_back(shipped_file(name));
  if (facts.files.front().state != FileState::missing) facts.vt_abi = vantrel_interface(facts.vt_abi_problem);
  const VersionReport report = version_report(facts);
  write_out(report.text);
  return report.exit_code;
}

}  // namespace mirrow::host
