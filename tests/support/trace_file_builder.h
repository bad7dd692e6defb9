#pragma once
// Small trace files made in memory, laid out as Windows writes them: a first
// buffer with the log file header record, then buffers of records, each
// record eight-byte aligned. Buffers may be stored compressed, in plain
// LZ77 from the tests' own encoder.
// For the reader's tests, the fuzzer's seeds and the replay tests.
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

class TraceFileBuilder {
 public:
  static constexpr std::uint32_t header_size = 0x48;
  static constexpr std::int64_t start_time = 132404548206236167;  // a FILETIME
  static constexpr std::int64_t start_clock = 1000000;             // the counter at start_time
  static constexpr std::int64_t frequency = 10000000;

  explicit TraceFileBuilder(std::uint32_t buffer_size = 4096, bool compressed = false)
      : buffer_size_(buffer_size), compressed_(compressed) {}

  // A record of the Kernel-File provider (an event header, 64-bit).
  TraceFileBuilder& event(std::uint16_t id, std::uint8_t version, std::uint32_t pid, std::int64_t clock,
                          std::span<const std::uint8_t> payload, std::uint16_t processor = 0,
                          std::span<const std::uint8_t> stack = {}) {
    std::vector<std::uint8_t> r(80);
    put16(r, 2, 0xC013);
    put16(r, 4, stack.empty() ? 0 : 1);
    put32(r, 8, 4242);
    put32(r, 12, pid);
    put64(r, 16, static_cast<std::uint64_t>(clock));
    put_guid(r, 24, kernel_file_guid);
    put16(r, 40, id);
    r[42] = version;
    r[44] = 4;
    if (!stack.empty()) {
      const std::uint16_t item = static_cast<std::uint16_t>(8 + ((stack.size() + 7) & ~std::size_t{7}));
      std::vector<std::uint8_t> head(8);
      put16(head, 0, item);
      put16(head, 2, 6);  // a 64-bit stack trace
      put16(head, 6, static_cast<std::uint16_t>(stack.size()));
      r.insert(r.end(), head.begin(), head.end());
      r.insert(r.end(), stack.begin(), stack.end());
      r.resize(80 + item, 0);
    }
    r.insert(r.end(), payload.begin(), payload.end());
    put16(r, 0, static_cast<std::uint16_t>(r.size()));
    return add(std::move(r), processor);
  }

  // A classic kernel event with a PerfInfo header (64-bit): group and type.
  TraceFileBuilder& perfinfo(std::uint8_t group, std::uint8_t type, std::int64_t clock,
                             std::span<const std::uint8_t> payload, std::uint16_t processor = 0) {
    std::vector<std::uint8_t> r(16);
    put16(r, 0, 2);
    r[2] = 0x11;
    r[3] = 0xC0;
    r[6] = type;
    r[7] = group;
    put64(r, 8, static_cast<std::uint64_t>(clock));
    r.insert(r.end(), payload.begin(), payload.end());
    put16(r, 4, static_cast<std::uint16_t>(r.size()));
    return add(std::move(r), processor);
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

  std::vector<std::uint8_t> log_header_buffer() const {
    std::vector<std::uint8_t> record(32 + 0x118);
    put16(record, 0, 2);
    record[2] = 0x02;  // a full 64-bit system header, group 0 type 0
    record[3] = 0xC0;
    put64(record, 16, static_cast<std::uint64_t>(start_clock));
    std::vector<std::uint8_t>& r = record;
    const std::size_t h = 32;
    put32(r, h + 0x00, buffer_size_);
    put32(r, h + 0x04, 0x00020206);
    put32(r, h + 0x0C, 2);
    put32(r, h + 0x20, 0x00000001 | (compressed_ ? 0x04000000 : 0));
    put32(r, h + 0x24, static_cast<std::uint32_t>(closed_.size() + 1));
    put32(r, h + 0x2C, 8);
    put64(r, h + 0x100, static_cast<std::uint64_t>(frequency));
    put64(r, h + 0x108, static_cast<std::uint64_t>(start_time));
    put32(r, h + 0x110, 1);
    for (const char16_t unit : std::u16string_view(u"Builder\0\0", 9)) {
      r.push_back(static_cast<std::uint8_t>(unit));
      r.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    put16(r, 4, static_cast<std::uint16_t>(r.size()));
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
  std::vector<Open> open_;
  std::vector<std::vector<std::uint8_t>> closed_;
};

}  // namespace mirrow::testing
