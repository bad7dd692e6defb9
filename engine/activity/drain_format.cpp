#include "engine/activity/drain_format.h"

#include "common/json_text.h"
#include "common/number_format.h"
#include "engine/api/engine_core.h"

namespace mirrow {

void append_drain_record(std::string& out, const ActivityGroup& group) {
  out += '[';
  append_g17(out, group.first);
  out += ',';
  append_i64(out, group.root_id);
  out += ',';
  json_quote(out, group.name->path);
  out += ',';
  append_u64(out, group.kind);
  out += ',';
  append_u64(out, group.pid);
  out += ',';
  json_quote(out, group.second ? std::u16string_view(group.second->path) : std::u16string_view());
  out += ',';
  append_u64(out, group.count);
  out += ',';
  append_g17(out, group.last);
  out += ']';
}

std::string format_drain_batch(const GroupList& batch) {
  std::string text;
  std::uint64_t estimate = 2;
  for (const ActivityGroup& group : batch) estimate += drain_size_estimate(group);
  text.reserve(static_cast<std::size_t>(estimate));
  text += '[';
  bool first = true;
  for (const ActivityGroup& group : batch) {
    if (!first) text += ',';
    first = false;
    append_drain_record(text, group);
  }
  text += ']';
  return text;
}

const std::string& drain_activity(EngineCore& engine, BatchFormatter format) {
  ActivityStore& store = engine.activity;
  GroupList batch = take_drain_batch(store);
  try {
    store.drain_text = format(batch);
  } catch (...) {
    return_drain_batch(store, batch);
    throw;
  }
  return store.drain_text;
}

}  // namespace mirrow
