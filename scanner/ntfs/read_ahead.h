#pragma once
// The table's slices read ahead of their parse, on threads of their own:
// while the caller parses one slice, the next ones are being read, so the
// disk (or, for an image, the copy out of the page cache) and the processor
// work at once instead of in turns. Up to read_ahead_depth reads are in
// flight, each on its own thread: where the reader lets them through
// together, a disk serves several requests at once and the copy out of a
// cache goes as fast as the processors that make it.
//
// Slices come out in the order they were asked for. The slice handed out
// stays untouched until the caller takes the next one; when no thread can be
// started, take() reads the slice itself, so the slices come all the same,
// only without the overlap.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

#include "scanner/ntfs/aligned_buffer.h"
#include "scanner/ntfs/table_source.h"

namespace mirrow::ntfs {

constexpr std::size_t read_ahead_depth = 2;

class ReadAhead {
 public:
  ReadAhead() = default;
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;
  ~ReadAhead() { stop(); }

  // Asks for records [first, first + count) of source, to be read behind
  // the slices asked for before. At most read_ahead_depth may be asked and
  // not yet taken; source must outlive their reads.
  void ask(const TableSource& source, std::uint64_t first, std::size_t count);

  // Waits for the oldest slice asked for and hands it out (valid until the
  // next take); null when it could not be read or none was asked for.
  AlignedBuffer* take();

  // Lets the reads in flight end, ends the threads, forgets what was asked
  // and frees the buffers. The volume may be closed once this returns.
  void stop() noexcept;

 private:
  enum class State { idle, asked, reading, read, failed };
  struct Slot {
    State state = State::idle;
    const TableSource* source = nullptr;
    std::uint64_t first = 0;
    std::size_t count = 0;
    AlignedBuffer buffer;
  };
  static constexpr std::size_t slot_count = read_ahead_depth + 1;  // the caller's, and those in flight

  void start_threads();
  void run();
  // The oldest slot still waiting for a reader, or null.
  Slot* next_to_read();
  // Reads the slice of a slot marked reading; false when it cannot.
  bool read_slot(Slot& slot);

  std::mutex mutex_;
  // Apart, so that each wakes only whom it concerns: under some platforms
  // every wake-up is a round trip of its own.
  std::condition_variable work_;  // a slice asked for, or stopping: the threads wait
  std::condition_variable done_;  // a slice read or failed: the caller waits
  std::thread threads_[read_ahead_depth];
  bool stopping_ = false;
  bool threadless_ = false;  // no thread could be started: take() reads
  Slot slots_[slot_count];
  std::size_t asked_ = 0;  // slices asked for so far
  std::size_t taken_ = 0;  // slices handed out so far
};

}  // namespace mirrow::ntfs
