#include "engine/activity/drain_format.h"

#include <algorithm>
#include <cmath>

#include "common/json_text.h"
#include "common/number_format.h"
#include "engine/core/engine_core.h"

namespace mirrow {

namespace {

// Most groups hold one event, whose last time equals its first; its digits
// are then copied instead of formatted twice.
bool same_text(double a, double b) { return a == b && std::signbit(a) == std::signbit(b); }

}  // namespace

void append_drain_record(std::string& out, const ActivityGroup& group) {
  out += '[';
  const std::size_t first_at = out.size();
  append_g17(out, group.first);
  char first_text[40];
  const std::size_t first_length = std::min(out.size() - first_at, sizeof first_text);
  out.copy(first_text, first_length, first_at);
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
  if (same_text(group.first, group.last) && first_length < sizeof first_text) {
    out.append(first_text, first_length);
  } else {
    append_g17(out, group.last);
  }
  out += ']';
}

void format_drain_batch(GroupSpan batch, std::string& text) {
  std::uint64_t estimate = 2;
  for (const ActivityGroup& group : batch) estimate += drain_size_estimate(group);
  text.reserve(text.size() + static_cast<std::size_t>(estimate));
  text += '[';
  for (std::size_t i = 0; i < batch.size(); ++i) {
    if (i > 0) text += ',';
    append_drain_record(text, batch[i]);
  }
  text += ']';
}

const std::string& drain_activity(EngineCore& engine, BatchFormatter format) {
  ActivityStore& store = engine.activity;
  std::lock_guard hold(store.drain_lock);
  const GroupSpan batch = take_drain_batch(store);
  store.spare_text.clear();
  format(batch, store.spare_text);
  store.drain_text.swap(store.spare_text);
  finish_drain_batch(store, batch.size());
  return store.drain_text;
}

}  // namespace mirrow
