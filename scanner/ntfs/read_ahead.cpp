#include "scanner/ntfs/read_ahead.h"

#include <new>
#include <system_error>

namespace mirrow::ntfs {

void ReadAhead::ask(const TableSource& source, std::uint64_t first, std::size_t count) {
  {
    std::lock_guard lock(mutex_);
    // One slice more than that would take the buffer the caller still
    // parses: it is never read, and take() gives null for it.
    if (asked_ - taken_ >= read_ahead_depth) return;
    Slot& slot = slots_[asked_ % slot_count];
    slot.source = &source;
    slot.first = first;
    slot.count = count;
    slot.state = State::asked;
    ++asked_;
  }
  start_threads();
  work_.notify_one();
}

AlignedBuffer* ReadAhead::take() {
  std::unique_lock lock(mutex_);
  // The slice handed out before is parsed: its buffer takes a later one.
  if (taken_ > 0) slots_[(taken_ - 1) % slot_count].state = State::idle;
  if (taken_ == asked_) return nullptr;
  Slot& slot = slots_[taken_ % slot_count];
  if (threadless_ && slot.state == State::asked) {
    slot.state = State::reading;
    lock.unlock();
    const bool read = read_slot(slot);
    lock.lock();
    slot.state = read ? State::read : State::failed;
  }
  done_.wait(lock, [&slot] { return slot.state == State::read || slot.state == State::failed; });
  ++taken_;
  return slot.state == State::read ? &slot.buffer : nullptr;
}

void ReadAhead::stop() noexcept {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  work_.notify_all();
  for (std::thread& thread : threads_) {
    try {
      if (thread.joinable()) thread.join();
    } catch (const std::system_error&) {
      // Joining fails only for a thread that is not joinable: nothing to wait for.
    }
  }
  std::lock_guard lock(mutex_);
  stopping_ = false;
  threadless_ = false;
  asked_ = 0;
  taken_ = 0;
  for (Slot& slot : slots_) {
    slot.state = State::idle;
    slot.buffer.resize(0);
  }
}

// Threads start with the first slice asked for and end with stop(); only
// the caller's thread starts and joins them.
void ReadAhead::start_threads() {
  if (threadless_) return;
  for (std::thread& thread : threads_) {
    if (thread.joinable()) continue;
    try {
      thread = std::thread([this] { run(); });
    } catch (const std::system_error&) {
      break;
    }
  }
  // Not one thread to be had: this slice, and every later one, is read in
  // take() instead.
  if (!threads_[0].joinable()) {
    std::lock_guard lock(mutex_);
    threadless_ = true;
  }
}

void ReadAhead::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    Slot* slot = nullptr;
    work_.wait(lock, [this, &slot] { return stopping_ || (slot = next_to_read()) != nullptr; });
    if (stopping_) return;
    slot->state = State::reading;
    lock.unlock();
    const bool read = read_slot(*slot);
    lock.lock();
    slot->state = read ? State::read : State::failed;
    done_.notify_one();
  }
}

ReadAhead::Slot* ReadAhead::next_to_read() {
  for (std::size_t i = taken_; i < asked_; ++i) {
    Slot& slot = slots_[i % slot_count];
    if (slot.state == State::asked) return &slot;
  }
  return nullptr;
}

// Outside the lock: the caller parses its own buffer meanwhile, and a slot
// marked reading is no one else's until its outcome is recorded.
bool ReadAhead::read_slot(Slot& slot) {
  try {
    return slot.source->read_records(slot.first, slot.count, slot.buffer);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace mirrow::ntfs
