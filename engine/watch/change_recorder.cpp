#include "engine/watch/change_recorder.h"

#include <utility>

#include "common/clock.h"
#include "engine/core/activity_kind.h"
#include "engine/watch/change_buffer.h"

namespace mirrow {
namespace {

std::uint32_t kind_of_plain_action(std::uint32_t action) {
  switch (static_cast<ChangeAction>(action)) {
    case ChangeAction::added: return kind_added;
    case ChangeAction::removed: return kind_removed;
    case ChangeAction::modified: return kind_modified;
    default: return 0;
  }
}

}  // namespace

ChangeRecorder::ChangeRecorder(NameTable& names, Counters& counters, ActivitySink& activity,
                               std::u16string watched_path)
    : names_(names), counters_(counters), activity_(activity), watched_path_(std::move(watched_path)) {}

void ChangeRecorder::handle_buffer(const std::uint8_t* bytes, std::size_t size) noexcept {
  try {
    const WalkEnd end = walk_change_buffer(
        bytes, size, [this](std::uint32_t action, std::u16string_view name) { return handle_record(action, name); });
    if (end == WalkEnd::malformed) counters_.add(Counter::errors);
  } catch (...) {
    counters_.add(Counter::errors);
  }
}

void ChangeRecorder::count_lost_round() noexcept { counters_.add(Counter::watch_losses); }

void ChangeRecorder::finish() noexcept {
  if (!pending_rename_.empty()) forget_pending_rename_as_lost();
}

void ChangeRecorder::forget_pending_rename_as_lost() {
  counters_.add(Counter::watch_losses);
  pending_rename_.clear();
}

bool ChangeRecorder::handle_record(std::uint32_t action, std::u16string_view relative_name) {
  std::u16string full = watched_path_;
  if (full.empty() || full.back() != u'\\') full.push_back(u'\\');
  full.append(relative_name);
  counters_.add(Counter::watch_notifications);

  const NameRef name = intern_name(names_, counters_, std::move(full));
  if (!name) return false;  // the name budget is full; intern_name counted it
  const double now = now_unix_seconds();

  switch (static_cast<ChangeAction>(action)) {
    case ChangeAction::renamed_old:
      pending_rename_ = name->path;
      break;
    case ChangeAction::renamed_new:
      if (!pending_rename_.empty()) {
        const NameRef old_name = intern_name(names_, counters_, std::exchange(pending_rename_, {}));
        activity_.record(old_name, kind_renamed_to, 0, now, name, 1, 0.0);
      } else {
        counters_.add(Counter::watch_losses);
        activity_.record(name, kind_added, 0, now, nullptr, 1, 0.0);
      }
      break;
    default: {
      if (!pending_rename_.empty()) forget_pending_rename_as_lost();
      // The sink keeps only paths inside a root, as it does for the decoder.
      const std::uint32_t kind = kind_of_plain_action(action);
      if (kind != 0) activity_.record(name, kind, 0, now, nullptr, 1, 0.0);
      break;
    }
  }
  return true;
}

}  // namespace mirrow
