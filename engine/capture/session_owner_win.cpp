#include "engine/capture/session_owner_win.h"

#include <cstring>
#include <string>
#include <vector>

#include "common/trace_session_owner.h"
#include "engine/capture/session_settings.h"
#include "engine/capture/trace_session_win.h"

namespace mirrow {
namespace {

// Status of a stop whose session ended meanwhile, for instance stopped by
// the sweep of another engine starting at the same moment.
constexpr ULONG session_already_gone = ERROR_WMI_INSTANCE_NOT_FOUND;

MarkLookup look_up_mark(const TraceCalls& calls, const std::u16string& mark_name) {
  UniqueHandle mark(calls.open_mutex(SYNCHRONIZE, FALSE, wide(mark_name.c_str())));
  return classify_mark_open(mark.valid(), mark.valid() ? 0 : GetLastError());
}

// One answer of the system's session listing: property blocks of
// listing_block_bytes each, 8-byte aligned, and the pointers handed over.
class SessionListing {
 public:
  explicit SessionListing(std::uint32_t capacity)
      : storage_(std::size_t{capacity} * (listing_block_bytes / sizeof(std::uint64_t))), blocks_(capacity) {
    for (std::uint32_t i = 0; i < capacity; ++i) {
      auto* block = reinterpret_cast<EVENT_TRACE_PROPERTIES*>(bytes_at(i));
      block->Wnode.BufferSize = listing_block_bytes;
      block->LoggerNameOffset = logger_name_offset;
      block->LogFileNameOffset = listing_log_file_name_offset;
      blocks_[i] = block;
    }
  }

  ULONG query(const TraceCalls& calls, ULONG& reported) {
    reported = 0;
    return calls.query_all_traces(blocks_.data(), static_cast<ULONG>(blocks_.size()), &reported);
  }

  // The names of the first `count` entries, each read only within its room.
  std::vector<std::u16string> names(std::uint32_t count) const {
    std::vector<std::u16string> names;
    const std::size_t filled = count < blocks_.size() ? count : blocks_.size();
    names.reserve(filled);
    for (std::size_t i = 0; i < filled; ++i) {
      const std::uint8_t* room = bytes_at(i) + logger_name_offset;
      std::u16string name;
      for (std::uint32_t unit = 0; unit < listed_name_units; ++unit) {
        char16_t c;
        std::memcpy(&c, room + 2 * unit, sizeof c);
        if (c == 0) break;
        name.push_back(c);
      }
      names.push_back(std::move(name));
    }
    return names;
  }

 private:
  std::uint8_t* bytes_at(std::size_t i) {
    return reinterpret_cast<std::uint8_t*>(storage_.data()) + i * listing_block_bytes;
  }
  const std::uint8_t* bytes_at(std::size_t i) const {
    return reinterpret_cast<const std::uint8_t*>(storage_.data()) + i * listing_block_bytes;
  }

  std::vector<std::uint64_t> storage_;
  std::vector<EVENT_TRACE_PROPERTIES*> blocks_;
};

static_assert(listing_block_bytes % sizeof(std::uint64_t) == 0, "blocks stay 8-byte aligned");

struct ListedSessions {
  bool answered = false;  // false: no query handed out any session
  std::vector<std::u16string> names;
  std::uint32_t unseen = 0;
};

// The running sessions. A query that reports more sessions than it had room
// for still fills the room it had; the next one asks for room for all of
// them. Systems that refuse more than 64 entries keep the first answer, and
// sessions beyond the last answer are counted as unseen.
ListedSessions list_sessions(const TraceCalls& calls) {
  ListedSessions listed;
  std::uint32_t capacity = listing_first_capacity;
  for (int attempt = 0; attempt < listing_attempts && capacity != 0; ++attempt) {
    SessionListing listing(capacity);
    ULONG reported = 0;
    const ULONG status = listing.query(calls, reported);
    if (status == ERROR_SUCCESS) return {true, listing.names(reported), 0};
    if (status != ERROR_MORE_DATA) break;
    listed = {true, listing.names(capacity), reported > capacity ? reported - capacity : 0};
    capacity = next_listing_capacity(capacity, reported);
  }
  return listed;
}

}  // namespace

UniqueHandle create_owner_mark(const TraceCalls& calls, std::u16string_view session_name) {
  const OwnerMarkNames names = owner_mark_names(session_name);
  UniqueHandle mark(calls.create_mutex(nullptr, FALSE, wide(names.global.c_str())));
  if (!mark) mark.reset(calls.create_mutex(nullptr, FALSE, wide(names.local.c_str())));
  return mark;
}

bool session_has_owner(const TraceCalls& calls, std::u16string_view session_name) {
  const OwnerMarkNames names = owner_mark_names(session_name);
  const MarkLookup global = look_up_mark(calls, names.global);
  if (global != MarkLookup::absent) return true;
  return !session_is_orphaned(global, look_up_mark(calls, names.local));
}

OrphanSweep sweep_orphan_sessions(const TraceCalls& calls) noexcept {
  OrphanSweep sweep;
  try {
    const std::uint64_t started = calls.tick_count();
    const ListedSessions listed = list_sessions(calls);
    if (!listed.answered) {
      ++sweep.failures;
      return sweep;
    }
    sweep.listed = static_cast<std::uint32_t>(listed.names.size());
    sweep.unseen = listed.unseen;
    if (listed.unseen != 0) ++sweep.failures;
    for (const std::u16string& name : listed.names) {
      if (!is_engine_session_name(name) || session_has_owner(calls, name)) continue;
      ++sweep.orphans;
      if (calls.tick_count() - started >= orphan_sweep_budget_ms) {
        ++sweep.left_for_later;
        continue;
      }
      const ULONG status = stop_session_by_name(calls, name);
      if (status == ERROR_SUCCESS) ++sweep.stopped;
      else if (status != session_already_gone) ++sweep.failures;
    }
  } catch (...) {
    // Only memory for the listing can run out; the start goes on.
    ++sweep.failures;
  }
  return sweep;
}

}  // namespace mirrow
