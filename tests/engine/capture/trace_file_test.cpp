#include "engine/capture/trace_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "support/event_payloads.h"
#include "support/trace_file_builder.h"
#include "support/trace_fixture.h"

namespace mirrow::trace_file {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::TraceFileBuilder;
using testing::TraceHeader;

constexpr Guid kernel_file{0xEDD08927, 0x9CC4, 0x4E65, {0xB9, 0x70, 0xC2, 0x56, 0x0F, 0xB5, 0xC2, 0x89}};
constexpr std::uint8_t file_io_group = 4;

std::vector<Event> events_of(Reader& reader) {
  std::vector<Event> events;
  reader.read([&](const Event& event) { events.push_back(event); });
  return events;
}

std::vector<std::string_view> skipped_whats(const Reader& reader) {
  std::vector<std::string_view> whats;
  for (const Skip& skip : reader.figures().skip_samples) whats.push_back(skip.what);
  return whats;
}

// The recording: a Windows 8 era x64 machine, relogged and compressed.
TEST(TraceFileFixture, holds_the_buffers_and_file_events_an_independent_reading_found) {
  Reader reader(mirrow::testing::trace_fixture());
  ASSERT_EQ(reader.problem(), "");
  const LogHeader& header = reader.header();
  EXPECT_EQ(header.buffer_size, 65536u);
  EXPECT_EQ(header.version & 0xFFFF, 0x0206u);  // 6.2
  EXPECT_EQ(header.pointer_size, 8u);
  EXPECT_EQ(header.processors, 8u);
  EXPECT_EQ(header.clock_type, 1u);
  EXPECT_EQ(header.perf_frequency, 10000000);
  EXPECT_EQ(header.buffers_written, 360u);
  EXPECT_EQ(header.compression_format, 3u);
  EXPECT_TRUE(header.log_file_mode & compressed_mode);
  EXPECT_EQ(header.logger_name, u"Relogger");

  std::map<std::pair<std::uint16_t, std::uint8_t>, int> kernel_file_events;
  std::map<std::uint8_t, int> classic_file_events;
  int with_stack = 0;
  std::int64_t last = INT64_MIN;
  bool in_time_order = true;
  reader.read([&](const Event& event) {
    in_time_order = in_time_order && event.raw_timestamp >= last;
    last = event.raw_timestamp;
    if (event.provider == kernel_file) {
      ++kernel_file_events[{event.id, event.version}];
      with_stack += event.extended_count == 1 && event.extended[0].type == 6 && event.extended[0].size > 8;
      EXPECT_EQ(event.flags & (flag_extended_info | flag_64bit_header), flag_extended_info | flag_64bit_header);
    }
    if (event.provider == kernel_group_guid(file_io_group)) {
      ++classic_file_events[event.opcode];
      EXPECT_EQ(event.kind, HeaderKind::perfinfo64);
      EXPECT_EQ(event.flags, flag_classic_header | flag_64bit_header);
    }
  });
  const Figures& figures = reader.figures();
  EXPECT_EQ(figures.file_bytes, 4879401u);
  EXPECT_EQ(figures.buffers, 360u);
  EXPECT_EQ(figures.compressed_buffers, 359u);  // all but the header's own buffer
  EXPECT_EQ(figures.decompressed_bytes, 23042664u);
  EXPECT_EQ(figures.events, 179474u);
  EXPECT_EQ(figures.skipped, 0u);
  EXPECT_EQ(kernel_file_events, (std::map<std::pair<std::uint16_t, std::uint8_t>, int>{{{12, 1}, 562}}));
  EXPECT_EQ(with_stack, 562);
  EXPECT_EQ(classic_file_events, (std::map<std::uint8_t, int>{{32, 16}, {35, 14}, {36, 3054}}));
  EXPECT_TRUE(in_time_order);
}

TEST(TraceFileFixture, the_first_event_is_the_log_header_at_the_start_time_and_times_follow_the_counter) {
  Reader reader(mirrow::testing::trace_fixture());
  std::vector<Event> first;
  reader.read([&](const Event& event) {
    if (first.size() < 2) first.push_back(event);
  });
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first[0].provider, kernel_group_guid(0));
  EXPECT_EQ(first[0].opcode, 0);
  EXPECT_EQ(first[0].timestamp, reader.header().start_time);
  // At ten million counts a second one count is 100 ns.
  EXPECT_EQ(first[1].timestamp - first[0].timestamp, first[1].raw_timestamp - first[0].raw_timestamp);
}

TEST(TraceFile, an_event_header_gives_the_fields_of_an_event_record) {
  const Bytes payload = mirrow::test::create_event(8, 1, 0x1000, 0x2000, u"\\Device\\HarddiskVolume1\\a.txt");
  const Bytes stack(24, 0xAB);
  Bytes file = TraceFileBuilder().event(12, 1, 4100, TraceFileBuilder::start_clock + 5, payload, 3, stack).bytes();
  Reader reader(file);
  const std::vector<Event> events = events_of(reader);
  ASSERT_EQ(events.size(), 2u);  // the log header, then the create
  const Event& e = events[1];
  EXPECT_EQ(e.provider, kernel_file);
  EXPECT_EQ(e.id, 12);
  EXPECT_EQ(e.version, 1);
  EXPECT_EQ(e.level, 4);
  EXPECT_EQ(e.process_id, 4100u);
  EXPECT_EQ(e.thread_id, 4242u);
  EXPECT_EQ(e.processor, 3);
  EXPECT_EQ(e.flags, flag_extended_info | flag_64bit_header);
  EXPECT_EQ(e.timestamp, TraceFileBuilder::start_time + 5);
  ASSERT_EQ(e.extended_count, 1);
  EXPECT_EQ(e.extended[0].type, 6);
  EXPECT_EQ(Bytes(e.extended[0].data, e.extended[0].data + e.extended[0].size), stack);
  EXPECT_EQ(Bytes(e.user_data, e.user_data + e.user_data_length), payload);
}

TEST(TraceFile, a_perfinfo_header_is_a_classic_event_of_its_groups_class_without_thread_or_process) {
  const Bytes payload = mirrow::test::name_event(8, 0xA0, u"\\Device\\HarddiskVolume1\\b.txt");
  Bytes file = TraceFileBuilder().perfinfo(file_io_group, 36, TraceFileBuilder::start_clock + 10000000, payload).bytes();
  Reader reader(file);
  const std::vector<Event> events = events_of(reader);
  ASSERT_EQ(events.size(), 2u);
  const Event& e = events[1];
  EXPECT_EQ(e.provider, kernel_group_guid(file_io_group));
  EXPECT_EQ(e.opcode, 36);
  EXPECT_EQ(e.flags, flag_classic_header | flag_64bit_header);
  EXPECT_EQ(e.process_id, 0xFFFFFFFFu);
  EXPECT_EQ(e.thread_id, 0xFFFFFFFFu);
  EXPECT_EQ(e.timestamp, TraceFileBuilder::start_time + 10000000);
  EXPECT_EQ(Bytes(e.user_data, e.user_data + e.user_data_length), payload);
}

// The fields one record of each header kind gives, as ProcessTrace hands
// them over. Classic headers (system, compact, PerfInfo, full) carry the
// classic-header flag, and those of the kernel name no provider but a group
// whose event class stands for it; PerfInfo headers name no thread or
// process; the compact and PerfInfo forms leave out the CPU times.
struct KindRow {
  TraceHeader header;
  HeaderKind kind;
  bool group_class;  // the provider is the kernel group's event class
  std::uint16_t id;
  std::uint8_t level;
  std::uint16_t flags;
  std::uint32_t thread_id;
  std::uint32_t process_id;
  std::uint32_t kernel_time;
  std::uint32_t user_time;
};

constexpr std::uint16_t classic32 = flag_classic_header | flag_32bit_header;
constexpr std::uint16_t classic64 = flag_classic_header | flag_64bit_header;
constexpr std::uint32_t none = 0xFFFFFFFFu;
const KindRow kind_rows[] = {
    {TraceHeader::system32, HeaderKind::system32, true, 0, 0, classic32, 4343, 4100, 11, 22},
    {TraceHeader::system64, HeaderKind::system64, true, 0, 0, classic64, 4343, 4100, 11, 22},
    {TraceHeader::compact32, HeaderKind::compact32, true, 0, 0, classic32, 4343, 4100, 0, 0},
    {TraceHeader::compact64, HeaderKind::compact64, true, 0, 0, classic64, 4343, 4100, 0, 0},
    {TraceHeader::perfinfo32, HeaderKind::perfinfo32, true, 0, 0, classic32, none, none, 0, 0},
    {TraceHeader::perfinfo64, HeaderKind::perfinfo64, true, 0, 0, classic64, none, none, 0, 0},
    {TraceHeader::full32, HeaderKind::full32, false, 0, 5, classic32, 4343, 4100, 11, 22},
    {TraceHeader::full64, HeaderKind::full64, false, 0, 5, classic64, 4343, 4100, 11, 22},
    {TraceHeader::event32, HeaderKind::event32, false, 12, 5, flag_extended_info | flag_32bit_header, 4343, 4100, 11, 22},
    {TraceHeader::event64, HeaderKind::event64, false, 12, 5, flag_extended_info | flag_64bit_header, 4343, 4100, 11, 22},
};

constexpr testing::TraceGuid some_provider{0x0BADF00D, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr Guid some_provider_read{0x0BADF00D, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};

// Every field set, so that a field read from another place shows.
testing::TraceRecord record_of_kind(TraceHeader header, const Bytes& payload, const Bytes& stack) {
  testing::TraceRecord record;
  record.header = header;
  record.provider = some_provider;
  record.group = file_io_group;
  record.id = 12;
  record.version = 3;
  record.opcode = 36;
  record.level = 5;
  record.task = 7;
  record.keyword = 0x8000000000000010;
  record.thread_id = 4343;
  record.process_id = 4100;
  record.clock = TraceFileBuilder::start_clock + 77;
  record.kernel_time = 11;
  record.user_time = 22;
  record.payload = payload;
  record.stack = stack;
  return record;
}

// Each kind in a file of either pointer size: the record's own kind, not
// the file's, says how wide its writer's pointers were (a 32-bit process
// logs 32-bit headers into a 64-bit system's file).
TEST(TraceFileHeaderKinds, every_kind_gives_the_event_record_fields_in_a_file_of_either_pointer_size) {
  const Bytes payload = mirrow::test::name_event(4, 0xA0, u"\\Device\\HarddiskVolume1\\k.txt");
  const Bytes stack(16, 0xAB);
  for (const std::uint32_t file_pointers : {4u, 8u}) {
    for (const KindRow& row : kind_rows) {
      const auto label = ::testing::Message() << "kind 0x" << std::hex << int(row.kind) << " in a file of "
                                              << std::dec << file_pointers << "-byte pointers";
      Bytes file = TraceFileBuilder(4096, false, file_pointers).record(record_of_kind(row.header, payload, stack)).bytes();
      Reader reader(file);
      const std::vector<Event> events = events_of(reader);
      ASSERT_EQ(events.size(), 2u) << label;
      EXPECT_EQ(reader.figures().skipped, 0u) << label;
      const Event& e = events[1];
      EXPECT_EQ(e.kind, row.kind) << label;
      EXPECT_EQ(e.provider, row.group_class ? kernel_group_guid(file_io_group) : some_provider_read) << label;
      EXPECT_EQ(e.id, row.id) << label;
      EXPECT_EQ(e.opcode, 36) << label;
      EXPECT_EQ(e.version, 3) << label;
      EXPECT_EQ(e.level, row.level) << label;
      EXPECT_EQ(e.task, row.id != 0 ? 7 : 0) << label;
      EXPECT_EQ(e.keyword, row.id != 0 ? 0x8000000000000010u : 0u) << label;
      EXPECT_EQ(e.flags, row.flags) << label;
      EXPECT_EQ(e.thread_id, row.thread_id) << label;
      EXPECT_EQ(e.process_id, row.process_id) << label;
      EXPECT_EQ(e.kernel_time, row.kernel_time) << label;
      EXPECT_EQ(e.user_time, row.user_time) << label;
      EXPECT_EQ(e.raw_timestamp, TraceFileBuilder::start_clock + 77) << label;
      EXPECT_EQ(e.timestamp, TraceFileBuilder::start_time + 77) << label;
      EXPECT_EQ(Bytes(e.user_data, e.user_data + e.user_data_length), payload) << label;
      const bool has_items = (row.flags & flag_extended_info) != 0;
      ASSERT_EQ(e.extended_count, has_items ? 1 : 0) << label;
      if (has_items) {
        EXPECT_EQ(e.extended[0].type, row.kind == HeaderKind::event32 ? 5 : 6) << label;
        EXPECT_EQ(Bytes(e.extended[0].data, e.extended[0].data + e.extended[0].size), stack) << label;
      }
    }
  }
}

// The two name pointers in the middle of the log file header are as wide as
// the writer's pointers, so every field after them sits four bytes later in
// a 64-bit file.
TEST(TraceFileHeaderKinds, the_log_file_header_reads_alike_in_its_32_and_64_bit_layouts) {
  for (const std::uint32_t file_pointers : {4u, 8u}) {
    Bytes file = TraceFileBuilder(4096, false, file_pointers).bytes();
    Reader reader(file);
    ASSERT_EQ(reader.problem(), "") << file_pointers;
    const LogHeader& h = reader.header();
    EXPECT_EQ(h.buffer_size, 4096u) << file_pointers;
    EXPECT_EQ(h.version, TraceFileBuilder::os_version) << file_pointers;
    EXPECT_EQ(h.provider_version, TraceFileBuilder::provider_version) << file_pointers;
    EXPECT_EQ(h.processors, TraceFileBuilder::processors) << file_pointers;
    EXPECT_EQ(h.end_time, TraceFileBuilder::end_time) << file_pointers;
    EXPECT_EQ(h.log_file_mode, 1u) << file_pointers;
    EXPECT_EQ(h.buffers_written, 1u) << file_pointers;
    EXPECT_EQ(h.pointer_size, file_pointers);
    EXPECT_EQ(h.events_lost, TraceFileBuilder::events_lost) << file_pointers;
    EXPECT_EQ(h.cpu_mhz, TraceFileBuilder::cpu_mhz) << file_pointers;
    EXPECT_EQ(h.boot_time, TraceFileBuilder::boot_time) << file_pointers;
    EXPECT_EQ(h.perf_frequency, TraceFileBuilder::frequency) << file_pointers;
    EXPECT_EQ(h.start_time, TraceFileBuilder::start_time) << file_pointers;
    EXPECT_EQ(h.clock_type, TraceFileBuilder::clock_type) << file_pointers;
    EXPECT_EQ(h.buffers_lost, TraceFileBuilder::buffers_lost) << file_pointers;
    EXPECT_EQ(h.start_clock, TraceFileBuilder::start_clock) << file_pointers;
    EXPECT_EQ(h.logger_name, TraceFileBuilder::logger_name) << file_pointers;
    EXPECT_EQ(h.log_file_name, TraceFileBuilder::log_file_name) << file_pointers;
    // The header is an event too, with its own pointer size.
    const std::vector<Event> events = events_of(reader);
    ASSERT_EQ(events.size(), 1u) << file_pointers;
    EXPECT_EQ(events[0].kind, file_pointers == 4 ? HeaderKind::system32 : HeaderKind::system64);
    EXPECT_EQ(events[0].flags, file_pointers == 4 ? classic32 : classic64);
    EXPECT_EQ(events[0].provider, kernel_group_guid(0));
    EXPECT_EQ(events[0].timestamp, TraceFileBuilder::start_time);
  }
}

// Each processor's buffers are in time order; the file interleaves them as
// they were flushed.
TEST(TraceFile, events_of_several_processors_come_in_time_order_whatever_the_order_of_their_buffers) {
  for (const bool compressed : {false, true}) {
    TraceFileBuilder builder(4096, compressed);
    const Bytes payload(40, 1);
    for (int i = 0; i < 6; ++i) builder.event(16, 1, 10, TraceFileBuilder::start_clock + 100 + 2 * i, payload, 1);
    builder.flush(1);
    for (int i = 0; i < 6; ++i) builder.event(16, 1, 20, TraceFileBuilder::start_clock + 101 + 2 * i, payload, 0);
    builder.flush(0);
    Bytes file = builder.bytes();
    Reader reader(file);
    std::vector<std::uint32_t> pids;
    for (const Event& e : events_of(reader))
      if (e.provider == kernel_file) pids.push_back(e.process_id);
    EXPECT_THAT(pids, ::testing::ElementsAre(10, 20, 10, 20, 10, 20, 10, 20, 10, 20, 10, 20)) << compressed;
    EXPECT_EQ(reader.figures().compressed_buffers, compressed ? 2u : 0u);
  }
}

// A file with one good buffer before and after the buffer a test breaks.
struct Sandwich {
  Bytes file;
  std::size_t broken_at = 0;  // the middle buffer's offset
  std::uint32_t record_at = 0x48;
};

Sandwich sandwich(bool compressed = false) {
  TraceFileBuilder builder(1024, compressed);
  const Bytes payload(16, 7);
  builder.event(16, 1, 1, TraceFileBuilder::start_clock + 1, payload).flush();
  builder.event(16, 1, 2, TraceFileBuilder::start_clock + 2, payload).event(16, 1, 2, TraceFileBuilder::start_clock + 3, payload).flush();
  builder.event(16, 1, 3, TraceFileBuilder::start_clock + 4, payload).flush();
  Sandwich s{builder.bytes()};
  // The log header buffer, then the first buffer of events.
  std::uint32_t first_size = 0, second_size = 0;
  std::memcpy(&first_size, &s.file[0], 4);
  std::memcpy(&second_size, &s.file[first_size], 4);
  s.broken_at = first_size + second_size;
  return s;
}

std::vector<std::uint32_t> pids_read(const Bytes& file, Reader*& out, std::unique_ptr<Reader>& keep) {
  keep = std::make_unique<Reader>(file);
  out = keep.get();
  std::vector<std::uint32_t> pids;
  keep->read([&](const Event& e) {
    if (e.provider == kernel_file) pids.push_back(e.process_id);
  });
  return pids;
}

TEST(TraceFileBadInput, a_broken_record_or_buffer_is_skipped_with_its_offset_and_the_rest_is_read) {
  struct Row {
    const char* name;
    void (*breaks)(Sandwich&);
    std::vector<std::uint32_t> pids;
    std::string_view what;
    bool whole_buffer;
  };
  const std::vector<Row> rows = {
      {"record size 0", [](Sandwich& s) { s.file[s.broken_at + 0x48] = 0, s.file[s.broken_at + 0x49] = 0; },
       {1, 3}, "a record of size 0", false},
      {"record past its buffer", [](Sandwich& s) { s.file[s.broken_at + 0x49] = 0x40; }, {1, 3},
       "a record running past its buffer", false},
      {"unknown header kind", [](Sandwich& s) { s.file[s.broken_at + 0x4A] = 0x77; }, {1, 3},
       "a record of an unknown header kind", false},
      {"filled past its own size", [](Sandwich& s) { s.file[s.broken_at + 5] = 0x40; }, {1, 3},
       "a buffer filled past its own size", true},
  };
  for (const Row& row : rows) {
    Sandwich s = sandwich();
    row.breaks(s);
    Reader* reader = nullptr;
    std::unique_ptr<Reader> keep;
    EXPECT_EQ(pids_read(s.file, reader, keep), row.pids) << row.name;
    ASSERT_EQ(reader->figures().skipped, 1u) << row.name;
    const Skip& skip = reader->figures().skip_samples.front();
    EXPECT_EQ(skip.what, row.what) << row.name;
    EXPECT_EQ(skip.buffer_offset, s.broken_at) << row.name;
    EXPECT_EQ(skip.record_offset == 0, row.whole_buffer) << row.name;
  }
}

TEST(TraceFileBadInput, a_record_too_short_for_its_header_or_of_a_kind_never_asked_for_is_skipped_alone) {
  const Bytes payload(16, 7);
  for (const std::uint8_t kind : {std::uint8_t{0x13}, std::uint8_t{0x0B}, std::uint8_t{0x15}}) {
    // Long enough for an instance header, too short for an event header.
    Bytes odd(48, 0);
    odd[0] = 48;
    odd[2] = kind;
    odd[3] = 0xC0;
    TraceFileBuilder builder;
    builder.event(16, 1, 1, TraceFileBuilder::start_clock + 1, payload).raw_record(odd);
    builder.event(16, 1, 2, TraceFileBuilder::start_clock + 2, payload);
    Bytes file = builder.bytes();
    Reader* reader = nullptr;
    std::unique_ptr<Reader> keep;
    EXPECT_EQ(pids_read(file, reader, keep), (std::vector<std::uint32_t>{1, 2}));
    EXPECT_EQ(reader->figures().skipped, 1u);
    EXPECT_THAT(skipped_whats(*reader), ::testing::ElementsAre(kind == 0x13 ? "a record shorter than its header"
                                                                            : "an instance record, which the engine never asks for"));
  }
}

TEST(TraceFileBadInput, a_compressed_buffer_that_decodes_past_or_short_of_its_filled_size_is_skipped) {
  for (const std::uint32_t filled_change : {-8u, 8u}) {
    Sandwich s = sandwich(true);
    std::uint32_t filled = 0;
    std::memcpy(&filled, &s.file[s.broken_at + 4], 4);
    filled += filled_change;
    std::memcpy(&s.file[s.broken_at + 4], &filled, 4);
    Reader* reader = nullptr;
    std::unique_ptr<Reader> keep;
    EXPECT_EQ(pids_read(s.file, reader, keep), (std::vector<std::uint32_t>{1, 3}));
    EXPECT_EQ(reader->figures().skipped, 1u);
    EXPECT_THAT(skipped_whats(*reader), ::testing::ElementsAre(filled_change == 8u
                                                                   ? "a compressed buffer that decodes short of its filled size"
                                                                   : "a compressed buffer that does not decode within its size"));
  }
}

TEST(TraceFileBadInput, a_buffer_size_past_the_file_ends_the_reading_with_what_came_before) {
  Sandwich s = sandwich();
  s.file[s.broken_at + 2] = 0x10;  // a megabyte
  Reader* reader = nullptr;
  std::unique_ptr<Reader> keep;
  // A file of equal buffers goes on with the next buffer by the header's size.
  EXPECT_EQ(pids_read(s.file, reader, keep), (std::vector<std::uint32_t>{1, 3}));
  EXPECT_THAT(skipped_whats(*reader), ::testing::ElementsAre("a buffer whose size runs past the file"));

  Sandwich packed = sandwich(true);
  packed.file[packed.broken_at + 2] = 0x10;
  EXPECT_EQ(pids_read(packed.file, reader, keep), (std::vector<std::uint32_t>{1}));
  EXPECT_EQ(reader->figures().skipped, 1u);
}

TEST(TraceFileBadInput, every_cut_of_a_file_reads_what_it_holds_without_reading_past_it) {
  for (const bool compressed : {false, true}) {
    const Sandwich s = sandwich(compressed);
    for (std::size_t length = 0; length <= s.file.size(); ++length) {
      const Bytes cut(s.file.begin(), s.file.begin() + static_cast<std::ptrdiff_t>(length));
      Reader reader(cut);
      std::size_t bytes = 0;
      reader.read([&](const Event& e) { bytes += e.user_data_length; });
      if (length < 0x48 + 32 + 0x118) {
        EXPECT_NE(reader.problem(), "") << length;
      }
    }
  }
}

TEST(TraceFileBadInput, what_is_no_trace_or_another_compression_is_refused_with_a_reason) {
  EXPECT_EQ(Reader(Bytes()).problem(), "not a trace file: it holds no buffer");
  Bytes zeros(4096, 0);
  zeros[1] = 0x10;  // one buffer of 4096 bytes, holding nothing
  EXPECT_EQ(Reader(zeros).problem(), "not a trace file: its first buffer does not start with a log file header");
  Bytes file = sandwich(true).file;
  file[0x2C] = 4;
  Reader huffman(file);
  EXPECT_EQ(huffman.problem(),
            "the buffers are compressed in format 4 (LZ77 with Huffman coding), which this reader does not decode "
            "(it decodes format 3, plain LZ77)");
  int events = 0;
  huffman.read([&](const Event&) { ++events; });
  EXPECT_EQ(events, 0);
}

TEST(TraceFileTimes, each_clock_type_converts_as_its_unit_says) {
  LogHeader header;
  header.start_time = 1000000000;
  header.start_clock = 500;
  header.perf_frequency = 2000000;  // 2 MHz: one count is 5 units of 100 ns
  header.clock_type = 1;
  EXPECT_EQ(to_file_time(header, 700), 1000000000 + 1000);
  EXPECT_EQ(to_file_time(header, 400), 1000000000 - 500);
  header.clock_type = 2;
  EXPECT_EQ(to_file_time(header, 123456789), 123456789);
  header.clock_type = 3;
  header.cpu_mhz = 3000;
  EXPECT_EQ(to_file_time(header, 500 + 3000000), 1000000000 + 10000);
  // A damaged header or stamp ends at the range's end rather than wrapping.
  header.clock_type = 1;
  header.perf_frequency = 1;
  EXPECT_EQ(to_file_time(header, INT64_MAX), INT64_MAX);
  EXPECT_EQ(to_file_time(header, INT64_MIN), INT64_MIN);
}

}  // namespace
}  // namespace mirrow::trace_file
