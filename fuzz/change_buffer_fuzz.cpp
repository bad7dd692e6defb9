// Directory-change buffers as the system would hand them to a watcher,
// walked and recorded under one watched root with an exclusion. The walk
// must never read outside the returned bytes, whatever the offsets and
// lengths claim.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/activity/configuration.h"
#include "engine/api/engine_core.h"
#include "engine/watch/change_buffer.h"
#include "engine/watch/change_recorder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace mirrow;
  // An exactly sized copy, so any read past the end is caught.
  const std::vector<std::uint8_t> bytes(data, data + size);
  std::size_t names = 0;
  walk_change_buffer(bytes.data(), bytes.size(), [&](std::uint32_t, std::u16string_view name) {
    names += name.size();
    return true;
  });

  EngineCore engine;
  engine.own_pid = 1;
  add_root(engine, 1, u"c:\\data", false);
  add_exclusion(engine, u"c:\\data\\skip");
  prepare_roots_for_start(engine);
  ChangeRecorder recorder(engine, u"c:\\data");
  recorder.handle_buffer(bytes.data(), bytes.size());
  recorder.handle_buffer(bytes.data(), bytes.size());
  recorder.finish();
  return names == static_cast<std::size_t>(-1) ? 1 : 0;
}
