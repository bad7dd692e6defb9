#pragma once
// Small trace files made in memory, laid out as Windows writes them: a first
// buffer with the log file header record (in the 32- or the 64-bit layout),
// then buffers of records, each record eight-byte aligned. Every record
// header kind that carries an event can be written. Buffers may be stored
// compressed, in plain LZ77 from the tests' own encoder.
// For the reader's tests and the replay tests.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "support/lz77_encoder.h"

namespace mirrow::testing {

struct TraceGuid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::uint8_t data4[8] = {};
};

inline constexpr TraceGuid kernel_file_guid{0xEDD08927, 0x9CC4, 0x4E65, {0xB9, 0x70, 0xC2, 0x56, 0x0F, 0xB5, 0xC2, 0x89}};

// The byte at offset 2 of a record: which header it starts with.
enum class TraceHeader : std::uint8_t {
  system32 = 0x01,
  system64 = 0x02,
  compact32 = 0x03,
  compact64 = 0x04,
  full32 = 0x0A,
  perfinfo32 = 0x10,
  perfinfo64 = 0x11,
  event32 = 0x12,
  event64 = 0x13,
  full64 = 0x14,
};

// One record's contents. Each header kind writes the fields it has room
// for and leaves the others out, as Windows does.
struct TraceRecord {
  TraceHeader header = TraceHeader::event64;
  TraceGuid provider = kernel_file_guid;  // event and full headers
  std::uint8_t group = 0;                 // system and PerfInfo headers: the hook id's high byte
  std::uint16_t id = 0;                   // event headers
  std::uint8_t version = 0;
  std::uint8_t opcode = 0;                // of classic headers: the event type
  std::uint8_t level = 4;                 // event and full headers
  std::uint16_t task = 0;                 // event headers
  std::uint64_t keyword = 0;              // event headers
  std::uint32_t thread_id = 4242;         // all but PerfInfo headers
  std::uint32_t process_id = 0;           // all but PerfInfo headers
  std::int64_t clock = 0;
  std::uint32_t kernel_time = 0;          // full system, full and event headers
  std::uint32_t user_time = 0;
  std::span<const std::uint8_t> payload;
  std::span<const std::uint8_t> stack;    // event headers: a stack-trace extended item
  std::uint16_t processor = 0;
};

class TraceFileBuilder {
 public:
  static constexpr std::uint32_t header_size = 0x48;
  static constexpr std::int64_t start_time = 132404548206236167;  // a FILETIME
  static constexpr std::int64_t start_clock = 1000000;             // the counter at start_time
  static constexpr std::int64_t frequency = 10000000;
  // The other log file header fields, each a value of its own so that a
  // field read from the wrong place shows.
  static constexpr std::uint32_t os_version = 0x00020206;
  static constexpr std::uint32_t provider_version = 9200;
  static constexpr std::uint32_t processors = 2;
  static constexpr std::int64_t end_time = start_time + 600000000;
  static constexpr std::uint32_t events_lost = 3;
  static constexpr std::uint32_t cpu_mhz = 2933;
  static constexpr std::int64_t boot_time = start_time - 864000000000;
  static constexpr std::uint32_t clock_type = 1;
  static constexpr std::uint32_t buffers_lost = 5;
  static constexpr std::u16string_view logger_name = u"Builder";
  static constexpr std::u16string_view log_file_name = u"C:\\builder.etl";

  // pointer_size 4 writes the log file header as a 32-bit system writes it.
  explicit TraceFileBuilder(std::uint32_t buffer_size = 4096, bool compressed = false, std::uint32_t pointer_size = 8)
      : buffer_size_(buffer_size), compressed_(compressed), pointer_size_(pointer_size) {}

  // Any record that carries an event, with the header its kind gives.
  TraceFileBuilder& record(const TraceRecord& fields) {
    std::vector<std::uint8_t> r;
    switch (fields.header) {
      case TraceHeader::system32:
      case TraceHeader::system64:
      case TraceHeader::compact32:
      case TraceHeader::compact64:
        r = system_record(fields);
        break;
      case TraceHeader::perfinfo32:
      case TraceHeader::perfinfo64:
        r = perfinfo_record(fields);
        break;
      case TraceHeader::full32:
      case TraceHeader::full64:
        r = full_record(fields);
        break;
      case TraceHeader::event32:
      case TraceHeader::event64:
        r = event_record(fields);
        break;
    }
    return add(std::move(r), fields.processor);
  }

  // A record of the Kernel-File provider (an event header, 64-bit).
  TraceFileBuilder& event(std::uint16_t id, std::uint8_t version, std::uint32_t pid, std::int64_t clock,
                          std::span<const std::uint8_t> payload, std::uint16_t processor = 0,
                          std::span<const std::uint8_t> stack = {}) {
    TraceRecord fields;
    fields.id = id;
    fields.version = version;
    fields.process_id = pid;
    fields.clock = clock;
    fields.payload = payload;
    fields.stack = stack;
    fields.processor = processor;
    return record(fields);
  }

  // A classic kernel event with a PerfInfo header (64-bit): group and type.
  TraceFileBuilder& perfinfo(std::uint8_t group, std::uint8_t type, std::int64_t clock,
                             std::span<const std::uint8_t> payload, std::uint16_t processor = 0) {
    TraceRecord fields;
    fields.header = TraceHeader::perfinfo64;
    fields.group = group;
    fields.version = 2;
    fields.opcode = type;
    fields.clock = clock;
    fields.payload = payload;
    fields.processor = processor;
    return record(fields);
  }

  // Any bytes as one record, for records a test breaks on purpose.
  TraceFileBuilder& raw_record(std::vector<std::uint8_t> record, std::uint16_t processor = 0) {
    return add(std::move(record), processor);
  }

  // Starts a new buffer for the processor even if the current one has room.
  TraceFileBuilder& flush(std::uint16_t processor = 0) {
    for (Open& open : open_) {
      if (open.processor == processor && open.records.size() > header_size) close(open);
    }
    return *this;
  }

  std::vector<std::uint8_t> bytes() {
    for (Open& open : open_) {
      if (open.records.size() > header_size) close(open);
    }
    std::vector<std::uint8_t> file = log_header_buffer();
    for (const auto& buffer : closed_) file.insert(file.end(), buffer.begin(), buffer.end());
    return file;
  }

  static void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) { std::memcpy(&b[at], &v, 2); }
  static void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) { std::memcpy(&b[at], &v, 4); }
  static void put64(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v) { std::memcpy(&b[at], &v, 8); }
  static void put_guid(std::vector<std::uint8_t>& b, std::size_t at, const TraceGuid& g) {
    put32(b, at, g.data1);
    put16(b, at + 4, g.data2);
    put16(b, at + 6, g.data3);
    std::memcpy(&b[at + 8], g.data4, 8);
  }

 private:
  struct Open {
    std::uint16_t processor = 0;
    std::vector<std::uint8_t> records;
  };

  static bool is_32bit(TraceHeader kind) {
    return kind == TraceHeader::system32 || kind == TraceHeader::compact32 || kind == TraceHeader::full32 ||
           kind == TraceHeader::perfinfo32 || kind == TraceHeader::event32;
  }

  // The first four bytes of every header: a word, the kind, and the marker
  // flags whose two high bits every event's header has.
  static void put_marker(std::vector<std::uint8_t>& r, std::uint16_t first_word, TraceHeader kind) {
    put16(r, 0, first_word);
    r[2] = static_cast<std::uint8_t>(kind);
    r[3] = 0xC0;
  }

  static void append(std::vector<std::uint8_t>& r, std::span<const std::uint8_t> bytes) {
    r.insert(r.end(), bytes.begin(), bytes.end());
  }

  // System headers: the version, then the size and the hook id (type, then
  // group), thread, process and time; the full form adds the CPU times.
  static std::vector<std::uint8_t> system_record(const TraceRecord& f) {
    const bool compact = f.header == TraceHeader::compact32 || f.header == TraceHeader::compact64;
    std::vector<std::uint8_t> r(compact ? 24 : 32);
    put_marker(r, f.version, f.header);
    r[6] = f.opcode;
    r[7] = f.group;
    put32(r, 8, f.thread_id);
    put32(r, 12, f.process_id);
    put64(r, 16, static_cast<std::uint64_t>(f.clock));
    if (!compact) {
      put32(r, 24, f.kernel_time);
      put32(r, 28, f.user_time);
    }
    append(r, f.payload);
    put16(r, 4, static_cast<std::uint16_t>(r.size()));
    return r;
  }

  // PerfInfo headers: as a system header, without thread, process or CPU times.
  static std::vector<std::uint8_t> perfinfo_record(const TraceRecord& f) {
    std::vector<std::uint8_t> r(16);
    put_marker(r, f.version, f.header);
    r[6] = f.opcode;
    r[7] = f.group;
    put64(r, 8, static_cast<std::uint64_t>(f.clock));
    append(r, f.payload);
    put16(r, 4, static_cast<std::uint16_t>(r.size()));
    return r;
  }

  // Full event trace headers: the size first, the class (type, level,
  // version), thread, process, time, the provider's GUID and the CPU times.
  static std::vector<std::uint8_t> full_record(const TraceRecord& f) {
    std::vector<std::uint8_t> r(48);
    put_marker(r, 0, f.header);
    r[4] = f.opcode;
    r[5] = f.level;
    put16(r, 6, f.version);
    put32(r, 8, f.thread_id);
    put32(r, 12, f.process_id);
    put64(r, 16, static_cast<std::uint64_t>(f.clock));
    put_guid(r, 24, f.provider);
    put32(r, 40, f.kernel_time);
    put32(r, 44, f.user_time);
    append(r, f.payload);
    put16(r, 0, static_cast<std::uint16_t>(r.size()));
    return r;
  }

  // Event headers (0x50 bytes), then the extended items, then the user data.
  static std::vector<std::uint8_t> event_record(const TraceRecord& f) {
    const bool narrow = is_32bit(f.header);
    std::vector<std::uint8_t> r(80);
    put_marker(r, 0, f.header);
    put16(r, 4, static_cast<std::uint16_t>((f.stack.empty() ? 0 : 0x0001) | (narrow ? 0x0020 : 0x0040)));
    put32(r, 8, f.thread_id);
    put32(r, 12, f.process_id);
    put64(r, 16, static_cast<std::uint64_t>(f.clock));
    put_guid(r, 24, f.provider);
    put16(r, 40, f.id);
    r[42] = f.version;
    r[44] = f.level;
    r[45] = f.opcode;
    put16(r, 46, f.task);
    put64(r, 48, f.keyword);
    put32(r, 56, f.kernel_time);
    put32(r, 60, f.user_time);
    if (!f.stack.empty()) {
      // An item's head: its length, its type (a 32- or 64-bit stack
      // trace), a word whose low bit says another follows, its data's length.
      const std::uint16_t item = static_cast<std::uint16_t>(8 + ((f.stack.size() + 7) & ~std::size_t{7}));
      std::vector<std::uint8_t> head(8);
      put16(head, 0, item);
      put16(head, 2, narrow ? 5 : 6);
      put16(head, 6, static_cast<std::uint16_t>(f.stack.size()));
      append(r, head);
      append(r, f.stack);
      r.resize(80 + item, 0);
    }
    append(r, f.payload);
    put16(r, 0, static_cast<std::uint16_t>(r.size()));
    return r;
  }

  TraceFileBuilder& add(std::vector<std::uint8_t> record, std::uint16_t processor) {
    Open* open = nullptr;
    for (Open& o : open_)
      if (o.processor == processor) open = &o;
    if (open == nullptr) {
      open_.push_back({processor, std::vector<std::uint8_t>(header_size)});
      open = &open_.back();
    }
    const std::size_t aligned = (record.size() + 7) & ~std::size_t{7};
    if (open->records.size() + aligned > buffer_size_ && open->records.size() > header_size) close(*open);
    record.resize(aligned, 0);
    open->records.insert(open->records.end(), record.begin(), record.end());
    return *this;
  }

  void close(Open& open) {
    std::vector<std::uint8_t> buffer = std::move(open.records);
    const auto filled = static_cast<std::uint32_t>(buffer.size());
    buffer.resize(std::max<std::size_t>(buffer.size(), header_size));
    put32(buffer, 4, filled);
    put32(buffer, 0x30, filled);
    put16(buffer, 0x28, open.processor);
    put16(buffer, 0x34, static_cast<std::uint16_t>(0x20 | (compressed_ ? 0x40 : 0)));
    if (compressed_) {
      std::vector<std::uint8_t> packed = encode_plain_lz77(std::span(buffer).subspan(header_size));
      buffer.resize(header_size);
      buffer.insert(buffer.end(), packed.begin(), packed.end());
    } else {
      buffer.resize(buffer_size_, 0xFF);
    }
    put32(buffer, 0, static_cast<std::uint32_t>(buffer.size()));
    closed_.push_back(std::move(buffer));
    open.records.assign(header_size, 0);
  }

  // The log file header: a full system header of group 0 type 0, then the
  // session's description. Its two name pointers are as wide as the
  // writer's pointers, which moves every field after them; the two names
  // follow the description.
  std::vector<std::uint8_t> log_header_record() const {
    const bool narrow = pointer_size_ == 4;
    const std::size_t h = 32;
    const std::size_t late = narrow ? 0 : 8;
    std::vector<std::uint8_t> r(h + 0x110 + late);
    put_marker(r, 2, narrow ? TraceHeader::system32 : TraceHeader::system64);
    put64(r, 16, static_cast<std::uint64_t>(start_clock));
    put32(r, h + 0x00, buffer_size_);
    put32(r, h + 0x04, os_version);
    put32(r, h + 0x08, provider_version);
    put32(r, h + 0x0C, processors);
    put64(r, h + 0x10, static_cast<std::uint64_t>(end_time));
    put32(r, h + 0x20, 0x00000001 | (compressed_ ? 0x04000000 : 0));
    put32(r, h + 0x24, static_cast<std::uint32_t>(closed_.size() + 1));
    put32(r, h + 0x2C, pointer_size_);
    put32(r, h + 0x30, events_lost);
    put32(r, h + 0x34, cpu_mhz);
    put64(r, h + 0xF0 + late, static_cast<std::uint64_t>(boot_time));
    put64(r, h + 0xF8 + late, static_cast<std::uint64_t>(frequency));
    put64(r, h + 0x100 + late, static_cast<std::uint64_t>(start_time));
    put32(r, h + 0x108 + late, clock_type);
    put32(r, h + 0x10C + late, buffers_lost);
    for (const std::u16string_view name : {logger_name, log_file_name}) {
      for (const char16_t unit : name) r.insert(r.end(), {static_cast<std::uint8_t>(unit), static_cast<std::uint8_t>(unit >> 8)});
      r.insert(r.end(), {0, 0});
    }
    put16(r, 4, static_cast<std::uint16_t>(r.size()));
    return r;
  }

  std::vector<std::uint8_t> log_header_buffer() const {
    const std::vector<std::uint8_t> r = log_header_record();
    std::vector<std::uint8_t> buffer(header_size);
    buffer.insert(buffer.end(), r.begin(), r.end());
    buffer.resize((buffer.size() + 7) & ~std::size_t{7}, 0);
    const auto filled = static_cast<std::uint32_t>(buffer.size());
    buffer.resize(std::max<std::size_t>(buffer_size_, buffer.size()), 0xFF);
    put32(buffer, 0, static_cast<std::uint32_t>(buffer.size()));
    put32(buffer, 4, filled);
    put32(buffer, 0x2C, 3);  // the compression format, read only when the file is compressed
    put32(buffer, 0x30, filled);
    put16(buffer, 0x34, 1);
    put16(buffer, 0x36, 4);
    return buffer;
  }

  std::uint32_t buffer_size_;
  bool compressed_;
  std::uint32_t pointer_size_;
  std::vector<Open> open_;
  std::vector<std::vector<std::uint8_t>> closed_;
};

}  // namespace mirrow::testing
