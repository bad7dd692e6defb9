#include "engine/activity/drain_format.h"

#include <algorithm>
#include <cmath>

#include "common/json_text.h"
#include "common/number_format.h"

namespace mirrow {

namespace {

// Most groups hold one event, whose last time equals its first; its digits
// are then copied instead of formatted twice.
bool same_text(double a, double b) { return a == b && std::signbit(a) == std::signbit(b); }

// Bytes a record can take at most: both quoted paths at six bytes a unit,
// two times, four integers and the punctuation.
std::size_t record_room(std::u16string_view name, std::u16string_view second) {
  return 6 * (name.size() + second.size()) + 4 + 2 * g17_max_chars + 4 * 20 + 16;
}

char* put(char* to, char c) {
  *to = c;
  return to + 1;
}

}  // namespace

void append_drain_record(std::string& out, const ActivityGroup& group) {
  const std::u16string_view name(group.name->path);
  const std::u16string_view second = group.second ? std::u16string_view(group.second->path) : std::u16string_view();
  // The record is written straight into room made for its longest form,
  // then the string is cut back to what was written.
  const std::size_t start = out.size();
  out.resize(start + record_room(name, second));
  char* to = put(out.data() + start, '[');
  char* const first_at = to;
  to = write_g17(to, group.first);
  char* const first_end = to;
  to = write_i64(put(to, ','), group.root_id);
  to = write_json_quoted(put(to, ','), name);
  to = write_u64(put(to, ','), group.kind);
  to = write_u64(put(to, ','), group.pid);
  to = write_json_quoted(put(to, ','), second);
  to = write_u64(put(to, ','), group.count);
  to = put(to, ',');
  if (same_text(group.first, group.last)) {
    to = std::copy(first_at, first_end, to);
  } else {
    to = write_g17(to, group.last);
  }
  to = put(to, ']');
  out.resize(static_cast<std::size_t>(to - out.data()));
}

void format_drain_batch(GroupSpan batch, std::string& text) {
  std::uint64_t estimate = 2;
  for (const ActivityGroup& group : batch) {
    estimate += drain_size_estimate(group);
    // The estimate reads where each name starts; its text, which the
    // record writes next, lies on the lines after, long out of the cache.
    const std::u16string_view path = group.name->path;
    if (!path.empty()) {
      __builtin_prefetch(path.data());
      __builtin_prefetch(&path.back());
    }
  }
  text.reserve(text.size() + static_cast<std::size_t>(estimate));
  text += '[';
  for (std::size_t i = 0; i < batch.size(); ++i) {
    if (i > 0) text += ',';
    append_drain_record(text, batch[i]);
  }
  text += ']';
}

const std::string& drain_activity(ActivityStore& store, BatchFormatter format) {
  std::lock_guard hold(store.drain_lock);
  const GroupSpan batch = take_drain_batch(store);
  store.spare_text.clear();
  format(batch, store.spare_text);
  store.drain_text.swap(store.spare_text);
  finish_drain_batch(store, batch.size());
  return store.drain_text;
}

}  // namespace mirrow
