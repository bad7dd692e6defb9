// The four shipped binaries as Windows tooling reads them: the version
// resource through GetFileVersionInfoW and VerQueryValueW, carrying the
// project's version, and the application manifest of the two programs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <windows.h>

#include "common/unique_handle.h"
#include "host/file_version_win.h"
#include "support/products_win.h"

namespace mirrow::testing {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Optional;
using ::testing::StartsWith;

struct Shipped {
  std::wstring path;
  std::wstring file_name;
  std::wstring internal_name;
  bool program = false;
};

std::vector<Shipped> shipped() {
  return {{vantrel_dll_path(), L"Vantrel.dll", L"Vantrel", false},
          {telvyn_dll_path(), L"Telvyn.dll", L"Telvyn", false},
          {freeze_guard_path(), L"FreezeGuard.exe", L"FreezeGuard", true},
          {mirrowctl_path(), L"mirrowctl.exe", L"mirrowctl", true}};
}

constexpr host::FileVersion kProject{MIRROW_VERSION_MAJOR, MIRROW_VERSION_MINOR, MIRROW_VERSION_PATCH, 0};
const std::wstring kProjectText = std::to_wstring(MIRROW_VERSION_MAJOR) + L"." + std::to_wstring(MIRROW_VERSION_MINOR) +
                                  L"." + std::to_wstring(MIRROW_VERSION_PATCH);

// The RT_MANIFEST resource 1 of `path`, loaded as a data file; empty when there is none.
std::string manifest_of(const std::wstring& path) {
  const UniqueModule module(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  if (!module) return {};
  const HRSRC found = FindResourceW(module.get(), MAKEINTRESOURCEW(1), RT_MANIFEST);
  if (found == nullptr) return {};
  const HGLOBAL loaded = LoadResource(module.get(), found);
  const void* bytes = loaded == nullptr ? nullptr : LockResource(loaded);
  if (bytes == nullptr) return {};
  return std::string(static_cast<const char*>(bytes), SizeofResource(module.get(), found));
}

TEST(ShippedResources, every_binary_carries_the_project_version_as_file_and_product_version) {
  for (const Shipped& file : shipped()) {
    const host::VersionResource resource(file.path);
    ASSERT_TRUE(resource.present()) << "no version resource in " << file.file_name;
    EXPECT_THAT(resource.file_version(), Optional(kProject));
    EXPECT_THAT(resource.string_value(L"FileVersion"), Optional(kProjectText));
    EXPECT_THAT(resource.string_value(L"ProductVersion"), Optional(kProjectText));
  }
}

TEST(ShippedResources, every_binary_names_the_product_its_own_file_and_what_it_is) {
  for (const Shipped& file : shipped()) {
    const host::VersionResource resource(file.path);
    EXPECT_THAT(resource.string_value(L"ProductName"), Optional(std::wstring(L"Mirrow")));
    EXPECT_THAT(resource.string_value(L"OriginalFilename"), Optional(file.file_name));
    EXPECT_THAT(resource.string_value(L"InternalName"), Optional(file.internal_name));
    EXPECT_THAT(resource.string_value(L"FileDescription"), Optional(StartsWith(L"Mirrow ")));
  }
}

TEST(ShippedResources, the_two_programs_embed_the_application_manifest_and_the_libraries_none) {
  for (const Shipped& file : shipped()) {
    const std::string manifest = manifest_of(file.path);
    if (!file.program) {
      EXPECT_EQ(manifest, "");
      continue;
    }
    EXPECT_THAT(manifest, AllOf(HasSubstr("<requestedExecutionLevel level=\"asInvoker\""),
                                HasSubstr("<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>"),
                                HasSubstr(">true</longPathAware>")));
  }
}

}  // namespace
}  // namespace mirrow::testing
