// The table's slices read ahead on other threads: handed out in the order
// asked, each with the records asked for, a failed read as null, never more
// in flight than the read-ahead holds, and no read once the volume is closed.
#include "scanner/ntfs/read_ahead.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "scanner/scan_driver.h"
#include "tests/scanner/ntfs/volume_builder.h"
#include "tests/scanner/scripted_tree.h"

namespace mirrow::ntfs_test {
namespace {

using namespace std::chrono_literals;

constexpr std::uint64_t root = 5;

// Reads of a built volume that can be slowed down and made to fail at one
// offset, and that count any read made after the volume was closed.
struct ScriptedReads {
  testing::MemoryVolume* volume = nullptr;
  std::chrono::milliseconds delay{0};
  std::uint64_t failing_offset = UINT64_MAX;
  std::atomic<bool> closed{false};
  std::atomic<int> reads_after_close{0};
  std::atomic<int> reads{0};

  ntfs::VolumeReader reader() { return {this, read, volume->bytes.size()}; }

  static bool read(void* context, std::uint64_t offset, void* buffer, std::size_t length) {
    auto* self = static_cast<ScriptedReads*>(context);
    std::this_thread::sleep_for(self->delay);
    ++self->reads;
    if (self->closed) ++self->reads_after_close;
    if (offset <= self->failing_offset && self->failing_offset - offset < length) return false;
    const ntfs::VolumeReader inner = self->volume->reader();
    return inner.read(inner.context, offset, buffer, length);
  }

  // A volume access handing out this reader, whose close marks it closed.
  VolumeAccess access() {
    return {this,
            [](void* context, std::u16string_view, ntfs::VolumeReader& reader, std::string&) {
              reader = static_cast<ScriptedReads*>(context)->reader();
              return true;
            },
            [](void* context, ntfs::VolumeReader& reader) {
              static_cast<ScriptedReads*>(context)->closed = true;
              reader = {};
            }};
  }
};

class ReadAheadTest : public ::testing::Test {
 protected:
  ReadAheadTest() : builder(Shape{.records = 64}) {
    for (std::uint64_t number = 16; number < 64; ++number) {
      const std::u16string name =
          u"f" + std::u16string(1, static_cast<char16_t>(u'0' + number % 10)) + std::u16string(number / 10, u'x');
      builder.file(number, root, name, number);
    }
    reads.volume = &builder.volume();
  }

  void open_source() { ASSERT_EQ(source.open(reads.reader()), nullptr); }

  // Whether a slice holds records [first, first + count) as the volume has them.
  bool holds_records(const ntfs::AlignedBuffer* slice, std::uint64_t first, std::size_t count) {
    const std::size_t bytes = count * builder.shape().record_size;
    if (slice == nullptr || slice->size() != bytes) return false;
    return std::memcmp(slice->data(), builder.volume().bytes.data() + builder.record_offset(first), bytes) == 0;
  }

  VolumeBuilder builder;
  ScriptedReads reads;
  ntfs::TableSource source;
  ntfs::ReadAhead ahead;
};

TEST_F(ReadAheadTest, slices_come_in_the_order_asked_each_with_the_records_asked_for) {
  open_source();
  reads.delay = 2ms;  // the later slice may well finish first
  ahead.ask(source, 0, 16);
  ahead.ask(source, 16, 16);
  EXPECT_TRUE(holds_records(ahead.take(), 0, 16));
  ahead.ask(source, 32, 20);
  EXPECT_TRUE(holds_records(ahead.take(), 16, 16));
  ahead.ask(source, 52, 12);
  EXPECT_TRUE(holds_records(ahead.take(), 32, 20));
  EXPECT_TRUE(holds_records(ahead.take(), 52, 12));
  EXPECT_EQ(ahead.take(), nullptr) << "nothing more was asked for";
}

TEST_F(ReadAheadTest, a_slice_that_cannot_be_read_is_null_and_the_next_one_still_comes) {
  open_source();
  reads.failing_offset = builder.record_offset(20);
  ahead.ask(source, 0, 16);
  ahead.ask(source, 16, 16);
  EXPECT_TRUE(holds_records(ahead.take(), 0, 16));
  ahead.ask(source, 32, 16);
  EXPECT_EQ(ahead.take(), nullptr);
  EXPECT_TRUE(holds_records(ahead.take(), 32, 16));
}

TEST_F(ReadAheadTest, a_slice_asked_beyond_the_depth_is_never_read_and_never_handed_out) {
  open_source();
  const int before = reads.reads;
  for (std::uint64_t i = 0; i <= ntfs::read_ahead_depth; ++i) ahead.ask(source, 8 * i, 8);
  for (std::uint64_t i = 0; i < ntfs::read_ahead_depth; ++i) EXPECT_TRUE(holds_records(ahead.take(), 8 * i, 8));
  EXPECT_EQ(ahead.take(), nullptr);
  EXPECT_EQ(reads.reads - before, static_cast<int>(ntfs::read_ahead_depth));
}

TEST_F(ReadAheadTest, stopping_lets_the_reads_in_flight_end_and_a_new_start_reads_again) {
  open_source();
  reads.delay = 20ms;
  ahead.ask(source, 0, 16);
  ahead.ask(source, 16, 16);
  std::this_thread::sleep_for(5ms);  // both reads under way
  ahead.stop();
  reads.closed = true;
  std::this_thread::sleep_for(40ms);
  EXPECT_EQ(reads.reads_after_close, 0);
  EXPECT_EQ(ahead.take(), nullptr) << "what was asked before the stop is forgotten";
  reads.closed = false;
  reads.delay = 0ms;
  ahead.ask(source, 48, 16);
  EXPECT_TRUE(holds_records(ahead.take(), 48, 16));
}

TEST_F(ReadAheadTest, a_scan_given_up_while_slices_are_read_ahead_reads_nothing_after_its_volume_is_closed) {
  const VolumeAccess volumes = reads.access();
  scan_test::ScriptedTree nothing;
  reads.delay = 20ms;
  {
    ScanDriver scanner(u"N:\\", nothing.platform(), &volumes);
    scanner.step();  // opens the table and asks for the first slices
    ASSERT_EQ(scanner.way(), ScanWay::table);
  }
  EXPECT_TRUE(reads.closed);
  std::this_thread::sleep_for(60ms);
  EXPECT_EQ(reads.reads_after_close, 0);
}

TEST_F(ReadAheadTest, a_slice_that_cannot_be_read_gives_the_scan_to_the_walk_after_the_reads_end) {
  const VolumeAccess volumes = reads.access();
  scan_test::ScriptedTree nothing;
  reads.failing_offset = builder.record_offset(40);
  ScanDriver scanner(u"N:\\", nothing.platform(), &volumes);
  // Too small a table for two slices: the one slice fails.
  for (int step = 0; step < 3 && scanner.way() != ScanWay::walk; ++step) scanner.step();
  EXPECT_EQ(scanner.way(), ScanWay::walk);
  EXPECT_NE(scanner.reason().find("cannot be read at record 0"), std::string::npos) << scanner.reason();
  EXPECT_TRUE(reads.closed);
  EXPECT_EQ(reads.reads_after_close, 0);
}

}  // namespace
}  // namespace mirrow::ntfs_test
