// Directory-change buffers as the system would hand them to a watcher,
// walked and recorded under one watched root with an exclusion. The walk
// must never read outside the returned bytes, whatever the offsets and
// lengths claim, and must hand out exactly the records that a plain reading
// of the layout finds, ending the same way. The recorder must count one
// notification per record handed out and one error per malformed buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "engine/api/configuration.h"
#include "engine/api/engine_core.h"
#include "engine/watch/change_buffer.h"
#include "engine/watch/change_recorder.h"

namespace {

using mirrow::WalkEnd;

void require(bool condition) {
  if (!condition) std::abort();
}

struct Record {
  std::uint32_t action;
  std::u16string name;
  bool operator==(const Record&) const = default;
};

std::uint32_t u32_at(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// The layout read record by record with 64-bit offsets: a record needs its
// 12-byte header and its name inside the buffer, an even name length, and a
// next offset that is 0 or at least a header long and lands where another
// header can start.
WalkEnd reference_walk(const std::vector<std::uint8_t>& b, std::vector<Record>& out) {
  std::uint64_t at = 0;
  for (;;) {
    if (at + 12 > b.size()) return WalkEnd::complete;
    const std::uint32_t next = u32_at(b, at);
    const std::uint32_t action = u32_at(b, at + 4);
    const std::uint64_t name_bytes = u32_at(b, at + 8);
    if (name_bytes % 2 != 0 || at + 12 + name_bytes > b.size()) return WalkEnd::malformed;
    Record r{action, {}};
    for (std::uint64_t i = 0; i < name_bytes; i += 2)
      r.name.push_back(static_cast<char16_t>(b[at + 12 + i] | (b[at + 13 + i] << 8)));
    out.push_back(std::move(r));
    if (next == 0) return WalkEnd::complete;
    if (next < 12 || at + next >= b.size()) return WalkEnd::malformed;
    at += next;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace mirrow;
  // An exactly sized copy, so any read past the end is caught.
  const std::vector<std::uint8_t> bytes(data, data + size);
  std::vector<Record> walked;
  const WalkEnd end = walk_change_buffer(bytes.data(), bytes.size(), [&](std::uint32_t action, std::u16string_view name) {
    walked.push_back({action, std::u16string(name)});
    return true;
  });
  std::vector<Record> expected;
  require(end == reference_walk(bytes, expected));
  require(walked == expected);

  // A visitor that stops after the first record ends the walk there.
  if (!expected.empty()) {
    std::size_t visits = 0;
    require(walk_change_buffer(bytes.data(), bytes.size(), [&](std::uint32_t, std::u16string_view) {
              ++visits;
              return false;
            }) == WalkEnd::stopped);
    require(visits == 1);
  }

  EngineCore engine;
  engine.own_pid = 1;
  add_root(engine, 1, u"c:\\data", false);
  add_exclusion(engine, u"c:\\data\\skip");
  prepare_roots_for_start(engine.root_set);
  ChangeRecorder recorder(engine.names, engine.counters, engine.recorder, u"c:\\data");
  recorder.handle_buffer(bytes.data(), bytes.size());
  recorder.handle_buffer(bytes.data(), bytes.size());
  recorder.finish();
  require(!recorder.rename_pending());
  require(engine.counters.get(Counter::watch_notifications) == 2 * expected.size());
  require(engine.counters.get(Counter::errors) == (end == WalkEnd::malformed ? 2u : 0u));
  return 0;
}
