// Start and stop sequences against the engine object itself.
#include <gtest/gtest.h>

#include <memory>

#include "engine/api/configuration.h"
#include "engine/api/engine_win.h"
#include "support/temp_dir_win.h"

namespace mirrow {
namespace {

using testing::TempDir;

struct EngineDeleter {
  void operator()(Engine* e) const { destroy_engine(e); }
};
using EnginePtr = std::unique_ptr<Engine, EngineDeleter>;

EnginePtr new_engine() {
  EnginePtr engine(create_engine());
  EXPECT_NE(engine, nullptr);
  return engine;
}

std::u16string u16(const std::wstring& s) { return std::u16string(s.begin(), s.end()); }

TEST(Lifecycle, device_map_maps_the_system_drive) {
  EnginePtr engine = new_engine();
  bool found_c = false;
  for (const auto& mapping : engine->names.device_map) {
    if (mapping.drive == u"c:") {
      found_c = true;
      EXPECT_TRUE(mapping.device.starts_with(u"\\device\\")) << std::string(mapping.device.begin(), mapping.device.end());
    }
  }
  EXPECT_TRUE(found_c);
  for (std::size_t i = 1; i < engine->names.device_map.size(); ++i)
    EXPECT_GE(engine->names.device_map[i - 1].device.size(), engine->names.device_map[i].device.size());
}

TEST(Lifecycle, nested_roots_get_one_watcher_and_sibling_roots_two) {
  TempDir dir;
  CreateDirectoryW((dir / L"a").c_str(), nullptr);
  CreateDirectoryW((dir / L"a\\b").c_str(), nullptr);
  CreateDirectoryW((dir / L"ab").c_str(), nullptr);

  EnginePtr nested = new_engine();
  add_root(*nested, 1, u16(dir / L"a").c_str(), false);
  add_root(*nested, 2, u16(dir / L"a\\b").c_str(), false);
  ASSERT_EQ(start_engine(*nested, false, false), 0u);
  EXPECT_EQ(nested->watchers.size(), 1u);
  EXPECT_TRUE(nested->running);

  EnginePtr siblings = new_engine();
  add_root(*siblings, 1, u16(dir / L"a").c_str(), false);
  add_root(*siblings, 2, u16(dir / L"ab").c_str(), false);
  ASSERT_EQ(start_engine(*siblings, false, false), 0u);
  EXPECT_EQ(siblings->watchers.size(), 2u);

  stop_sequence(*siblings);
  EXPECT_TRUE(siblings->watchers.empty());
  EXPECT_FALSE(siblings->running);
  stop_sequence(*siblings);
}

TEST(Lifecycle, a_failed_start_closes_the_watchers_it_had_opened) {
  TempDir dir;
  EnginePtr engine = new_engine();
  CreateDirectoryW((dir / L"a").c_str(), nullptr);
  add_root(*engine, 1, u16(dir / L"a").c_str(), false);
  add_root(*engine, 2, u16(dir / L"missing").c_str(), false);
  const std::uint32_t status = start_engine(*engine, false, true);
  EXPECT_TRUE(status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) << status;
  EXPECT_TRUE(engine->watchers.empty());
  EXPECT_FALSE(engine->running);
  // The directory is not held open: it can be removed right away.
  EXPECT_TRUE(RemoveDirectoryW((dir / L"a").c_str()));
}

TEST(Lifecycle, an_engine_with_no_roots_runs_without_watchers) {
  EnginePtr engine = new_engine();
  ASSERT_EQ(start_engine(*engine, false, false), 0u);
  EXPECT_TRUE(engine->running);
  EXPECT_TRUE(engine->watchers.empty());
  EXPECT_EQ(start_engine(*engine, false, false), 183u);
}

}  // namespace
}  // namespace mirrow
