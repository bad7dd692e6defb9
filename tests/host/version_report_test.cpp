// mirrowctl --version: the versions side by side and every mismatch said
// plainly, with the exit code a script can act on.
#include "host/version_report.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace mirrow::host {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr FileVersion kProgram{1, 4, 2, 0};

VersionFacts agreeing() {
  VersionFacts facts;
  facts.program = kProgram;
  facts.files = {{"Vantrel.dll", FileState::read, kProgram},
                 {"Telvyn.dll", FileState::read, kProgram},
                 {"FreezeGuard.exe", FileState::read, kProgram}};
  facts.vt_abi = kVantrelInterface;
  return facts;
}

TEST(VersionReport, files_of_the_program_version_and_the_bound_interface_agree_with_exit_code_zero) {
  const VersionReport report = version_report(agreeing());
  EXPECT_EQ(report.text,
            "mirrowctl 1.4.2\n"
            "FILE             VERSION\n"
            "Vantrel.dll      1.4.2\n"
            "Telvyn.dll       1.4.2\n"
            "FreezeGuard.exe  1.4.2\n"
            "vt_abi: 1\n"
            "every file beside mirrowctl.exe is of version 1.4.2\n");
  EXPECT_EQ(report.exit_code, 0);
}

// One way the files beside mirrowctl.exe can fail to belong together.
struct Mismatch {
  const char* what;
  void (*spoil)(VersionFacts&);
  std::string shown;  // the row or line that shows it
  std::string said;   // the mismatch line
  int exit_code;
};

TEST(VersionReport, each_kind_of_mismatch_shows_in_its_row_is_said_on_a_line_and_fails) {
  const Mismatch mismatches[] = {
      {"a stale library",
       [](VersionFacts& facts) {
         facts.files[1].version = {1, 3, 0, 7};
       },
       "Telvyn.dll       1.3.0.7\n", "mismatch: Telvyn.dll is 1.3.0.7 where mirrowctl is 1.4.2\n", 1},
      {"no version resource", [](VersionFacts& facts) { facts.files[2].state = FileState::no_version; },
       "FreezeGuard.exe  no version resource\n", "mismatch: FreezeGuard.exe has no version resource\n", 1},
      {"a missing file",
       [](VersionFacts& facts) {
         facts.files[0].state = FileState::missing;
         facts.vt_abi.reset();  // nobody to ask, and no problem beyond the missing file
       },
       "Vantrel.dll      missing\n", "mismatch: Vantrel.dll is missing beside mirrowctl.exe\n", 3},
      {"another interface version", [](VersionFacts& facts) { facts.vt_abi = 2; }, "vt_abi: 2\n",
       "mismatch: vt_abi is 2, mirrowctl binds 1\n", 1},
      {"an unreadable interface version",
       [](VersionFacts& facts) {
         facts.vt_abi.reset();
         facts.vt_abi_problem = "Vantrel.dll has no export vt_abi";
       },
       "vt_abi: unknown\n", "mismatch: vt_abi could not be read: Vantrel.dll has no export vt_abi\n", 1},
  };
  for (const Mismatch& mismatch : mismatches) {
    VersionFacts facts = agreeing();
    mismatch.spoil(facts);
    const VersionReport report = version_report(facts);
    EXPECT_THAT(report.text, AllOf(HasSubstr(mismatch.shown), HasSubstr(mismatch.said))) << mismatch.what;
    EXPECT_THAT(report.text, HasSubstr("install mirrowctl.exe and the files beside it together, from one release\n"))
        << mismatch.what;
    EXPECT_THAT(report.text, Not(HasSubstr("every file"))) << mismatch.what;
    EXPECT_EQ(report.exit_code, mismatch.exit_code) << mismatch.what;
  }
}

TEST(VersionReport, a_missing_engine_is_said_once_and_not_again_for_its_interface_version) {
  VersionFacts facts = agreeing();
  facts.files[0].state = FileState::missing;
  facts.vt_abi.reset();
  const std::string text = version_report(facts).text;
  EXPECT_EQ(text.find("mismatch:"), text.rfind("mismatch:")) << text;
}

TEST(VersionReport, the_fourth_part_of_a_version_shows_only_when_it_is_set) {
  EXPECT_EQ(version_text({1, 0, 0, 0}), "1.0.0");
  EXPECT_EQ(version_text({0, 10, 65535, 3}), "0.10.65535.3");
}

}  // namespace
}  // namespace mirrow::host
