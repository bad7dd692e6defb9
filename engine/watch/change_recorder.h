#pragma once
// Turns the change records of one watched tree into activity: added (7),
// modified (8), removed (9) and renamed with old and new path (10), all
// with process id 0 since the notification does not say who made the
// change. Keeps the old half of a rename until its new half arrives, across
// request cycles, and counts what is lost in watch_losses.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/core/activity_sink.h"
#include "engine/core/counters.h"
#include "engine/core/names.h"

namespace mirrow {

class ChangeRecorder {
 public:
  // watched_path: the watched directory as the system was handed it; the
  // names it reports are appended to it and the result normalised. The
  // paths are interned in names and the activity goes to activity, which
  // keeps only what lies inside a root.
  ChangeRecorder(NameTable& names, Counters& counters, ActivitySink& activity, std::u16string watched_path);

  // Handles the bytes one request returned. A malformed buffer counts in
  // errors and drops its remaining records; so does running out of memory.
  void handle_buffer(const std::uint8_t* bytes, std::size_t size) noexcept;

  // A request cycle whose changes were dropped by the system.
  void count_lost_round() noexcept;

  // The watcher is ending: an unpaired old name is lost.
  void finish() noexcept;

  bool rename_pending() const noexcept { return !pending_rename_.empty(); }

 private:
  bool handle_record(std::uint32_t action, std::u16string_view relative_name);
  void forget_pending_rename_as_lost();

  NameTable& names_;
  Counters& counters_;
  ActivitySink& activity_;
  std::u16string watched_path_;  // as spelled for the system
  std::u16string pending_rename_;  // normalised old path of an unfinished rename
};

}  // namespace mirrow
