#include "engine/capture/trace_file.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <queue>
#include <unordered_map>

#include "engine/capture/xpress_lz77.h"

namespace mirrow::trace_file {
namespace {

// Little-endian reads at a place already checked to lie inside the bytes.
template <typename T>
T load(const std::uint8_t* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

Guid load_guid(const std::uint8_t* at) {
  Guid guid;
  guid.data1 = load<std::uint32_t>(at);
  guid.data2 = load<std::uint16_t>(at + 4);
  guid.data3 = load<std::uint16_t>(at + 6);
  std::memcpy(guid.data4.data(), at + 8, 8);
  return guid;
}

constexpr std::uint32_t align8(std::uint32_t n) { return (n + 7u) & ~7u; }

// Clears what the header kinds do not all set, leaving the item slots
// (which extended_count guards) as they are: an event's fields are set
// anew for every record.
void start_event(Event& event) {
  event.id = 0;
  event.channel = 0;
  event.level = 0;
  event.task = 0;
  event.keyword = 0;
  event.event_property = 0;
  event.kernel_time = 0;
  event.user_time = 0;
  event.activity_id = Guid{};
  event.extended_count = 0;
}

// Buffer header fields.
constexpr std::size_t at_saved_offset = 0x04;
constexpr std::size_t at_context = 0x28;
constexpr std::size_t at_state = 0x2C;
constexpr std::size_t at_buffer_flag = 0x34;

// Record header lengths by kind.
constexpr std::uint32_t system_full_length = 32;
constexpr std::uint32_t system_compact_length = 24;
constexpr std::uint32_t perfinfo_length = 16;
constexpr std::uint32_t full_header_length = 48;
constexpr std::uint32_t event_header_length = 80;
constexpr std::uint32_t extended_item_header = 8;

constexpr std::uint32_t end_of_records = 0xFFFFFFFFu;

bool is_system(HeaderKind kind) {
  return kind == HeaderKind::system32 || kind == HeaderKind::system64 || kind == HeaderKind::compact32 ||
         kind == HeaderKind::compact64;
}
bool is_perfinfo(HeaderKind kind) { return kind == HeaderKind::perfinfo32 || kind == HeaderKind::perfinfo64; }
bool is_full(HeaderKind kind) { return kind == HeaderKind::full32 || kind == HeaderKind::full64; }
bool is_instance(HeaderKind kind) { return kind == HeaderKind::instance32 || kind == HeaderKind::instance64; }
bool is_event(HeaderKind kind) { return kind == HeaderKind::event32 || kind == HeaderKind::event64; }
bool is_known(std::uint8_t kind) {
  const auto k = static_cast<HeaderKind>(kind);
  return is_system(k) || is_perfinfo(k) || is_full(k) || is_instance(k) || is_event(k);
}

bool is_32bit(HeaderKind kind) {
  switch (kind) {
    case HeaderKind::system32:
    case HeaderKind::compact32:
    case HeaderKind::full32:
    case HeaderKind::instance32:
    case HeaderKind::perfinfo32:
    case HeaderKind::event32:
      return true;
    default:
      return false;
  }
}

std::uint16_t pointer_flag(HeaderKind kind) { return is_32bit(kind) ? flag_32bit_header : flag_64bit_header; }

std::uint32_t header_length(HeaderKind kind) {
  if (kind == HeaderKind::system32 || kind == HeaderKind::system64) return system_full_length;
  if (is_system(kind)) return system_compact_length;
  if (is_perfinfo(kind)) return perfinfo_length;
  if (is_event(kind)) return event_header_length;
  return full_header_length;
}

// System and PerfInfo headers carry their size after a version word; the
// others start with it.
std::uint32_t record_size(const std::uint8_t* record, HeaderKind kind) {
  return is_system(kind) || is_perfinfo(kind) ? load<std::uint16_t>(record + 4) : load<std::uint16_t>(record);
}

// A NUL-terminated UTF-16 text `at` bytes into `bytes`, read no further
// than their end.
std::u16string text_at(std::span<const std::uint8_t> bytes, std::size_t at) {
  std::u16string text;
  for (; at < bytes.size() && bytes.size() - at >= 2; at += 2) {
    const char16_t unit = load<char16_t>(bytes.data() + at);
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}

void fill_system(Event& event, const std::uint8_t* record, HeaderKind kind) {
  event.version = record[0];
  event.opcode = record[6];
  event.provider = kernel_group_guid(record[7]);
  event.flags = flag_classic_header | pointer_flag(kind);
  event.thread_id = load<std::uint32_t>(record + 8);
  event.process_id = load<std::uint32_t>(record + 12);
  event.raw_timestamp = load<std::int64_t>(record + 16);
  if (kind == HeaderKind::system32 || kind == HeaderKind::system64) {
    event.kernel_time = load<std::uint32_t>(record + 24);
    event.user_time = load<std::uint32_t>(record + 28);
  }
}

// PerfInfo headers name no thread or process; a consumer sees all ones.
void fill_perfinfo(Event& event, const std::uint8_t* record, HeaderKind kind) {
  event.version = record[0];
  event.opcode = record[6];
  event.provider = kernel_group_guid(record[7]);
  event.flags = flag_classic_header | pointer_flag(kind);
  event.thread_id = 0xFFFFFFFFu;
  event.process_id = 0xFFFFFFFFu;
  event.raw_timestamp = load<std::int64_t>(record + 8);
}

void fill_full(Event& event, const std::uint8_t* record, HeaderKind kind) {
  event.opcode = record[4];
  event.level = record[5];
  event.version = static_cast<std::uint8_t>(load<std::uint16_t>(record + 6));
  event.thread_id = load<std::uint32_t>(record + 8);
  event.process_id = load<std::uint32_t>(record + 12);
  event.raw_timestamp = load<std::int64_t>(record + 16);
  event.provider = load_guid(record + 24);
  event.kernel_time = load<std::uint32_t>(record + 40);
  event.user_time = load<std::uint32_t>(record + 44);
  event.flags = flag_classic_header | pointer_flag(kind);
}

void fill_event_header(Event& event, const std::uint8_t* record, HeaderKind kind) {
  const std::uint16_t file_flags = load<std::uint16_t>(record + 4);
  event.flags = static_cast<std::uint16_t>((file_flags & ~(flag_32bit_header | flag_64bit_header)) | pointer_flag(kind));
  event.event_property = load<std::uint16_t>(record + 6);
  event.thread_id = load<std::uint32_t>(record + 8);
  event.process_id = load<std::uint32_t>(record + 12);
  event.raw_timestamp = load<std::int64_t>(record + 16);
  event.provider = load_guid(record + 24);
  event.id = load<std::uint16_t>(record + 40);
  event.version = record[42];
  event.channel = record[43];
  event.level = record[44];
  event.opcode = record[45];
  event.task = load<std::uint16_t>(record + 46);
  event.keyword = load<std::uint64_t>(record + 48);
  event.kernel_time = load<std::uint32_t>(record + 56);
  event.user_time = load<std::uint32_t>(record + 60);
  event.activity_id = load_guid(record + 64);
}

// The extended items between an event header and its user data. Each has
// an eight-byte head: its own length, its type, a word whose low bit says
// that another item follows, and the length of its data.
bool read_extended_items(Event& event, const std::uint8_t* record, std::uint32_t size, std::uint32_t& data_at) {
  std::uint32_t at = event_header_length;
  for (bool more = true; more;) {
    if (size - at < extended_item_header) return false;
    const std::uint8_t* item = record + at;
    const std::uint16_t item_size = load<std::uint16_t>(item);
    const std::uint16_t data_size = load<std::uint16_t>(item + 6);
    if (item_size < extended_item_header || item_size > size - at || data_size > item_size - extended_item_header)
      return false;
    if (event.extended_count < max_extended_items)
      event.extended[event.extended_count++] = ExtendedItem{load<std::uint16_t>(item + 2), data_size, item + 8};
    more = (load<std::uint16_t>(item + 4) & 1u) != 0;
    at += std::min(align8(item_size), size - at);
  }
  data_at = at;
  return true;
}

}  // namespace

Guid kernel_group_guid(std::uint8_t group) {
  struct Entry {
    std::uint8_t group;
    Guid guid;
  };
  // The event classes of the kernel groups a consumer is told about.
  static constexpr Entry table[] = {
      {0x00, {0x68FDD900, 0x4A3E, 0x11D1, {0x84, 0xF4, 0x00, 0x00, 0xF8, 0x04, 0x64, 0xE3}}},  // EventTrace
      {0x01, {0x3D6FA8D4, 0xFE05, 0x11D0, {0x9D, 0xDA, 0x00, 0xC0, 0x4F, 0xD7, 0xBA, 0x7C}}},  // DiskIo
      {0x02, {0x3D6FA8D3, 0xFE05, 0x11D0, {0x9D, 0xDA, 0x00, 0xC0, 0x4F, 0xD7, 0xBA, 0x7C}}},  // PageFault
      {0x03, {0x3D6FA8D0, 0xFE05, 0x11D0, {0x9D, 0xDA, 0x00, 0xC0, 0x4F, 0xD7, 0xBA, 0x7C}}},  // Process
      {0x04, {0x90CBDC39, 0x4A3E, 0x11D1, {0x84, 0xF4, 0x00, 0x00, 0xF8, 0x04, 0x64, 0xE3}}},  // FileIo
      {0x05, {0x3D6FA8D1, 0xFE05, 0x11D0, {0x9D, 0xDA, 0x00, 0xC0, 0x4F, 0xD7, 0xBA, 0x7C}}},  // Thread
      {0x06, {0x9A280AC0, 0xC8E0, 0x11D1, {0x84, 0xE2, 0x00, 0xC0, 0x4F, 0xB9, 0x98, 0xA2}}},  // TcpIp
      {0x08, {0xBF3A50C5, 0xA9C9, 0x4988, {0xA0, 0x05, 0x2D, 0xF0, 0xB7, 0xC8, 0x0F, 0x80}}},  // UdpIp
      {0x09, {0xAE53722E, 0xC863, 0x11D2, {0x86, 0x59, 0x00, 0xC0, 0x4F, 0xA3, 0x21, 0xA1}}},  // Registry
      {0x0B, {0x01853A65, 0x418F, 0x4F36, {0xAE, 0xFC, 0xDC, 0x0F, 0x1D, 0x2F, 0xD2, 0x35}}},  // SystemConfig
      {0x0F, {0xCE1DBFB4, 0x137E, 0x4DA6, {0x87, 0xB0, 0x3F, 0x59, 0xAA, 0x10, 0x2C, 0xBC}}},  // PerfInfo
      {0x14, {0x2CB15D1D, 0x5FC1, 0x11D2, {0xAB, 0xE1, 0x00, 0xA0, 0xC9, 0x11, 0xF5, 0x18}}},  // Image
      {0x18, {0xDEF2FE46, 0x7BD6, 0x4B80, {0xBD, 0x94, 0xF5, 0x7F, 0xE2, 0x0D, 0x0C, 0xE3}}},  // StackWalk
      {0x1A, {0x45D8CCCD, 0x539F, 0x4B72, {0xA8, 0xB7, 0x5C, 0x68, 0x31, 0x42, 0x60, 0x9A}}},  // ALPC
  };
  for (const Entry& entry : table)
    if (entry.group == group) return entry.guid;
  return {};
}

namespace {

// A time far outside any real recording (a damaged header or time stamp)
// stays at the end of the range instead of wrapping around.
std::int64_t clamped(__int128 value) {
  if (value > INT64_MAX) return INT64_MAX;
  if (value < INT64_MIN) return INT64_MIN;
  return static_cast<std::int64_t>(value);
}

}  // namespace

std::int64_t to_file_time(const LogHeader& header, std::int64_t raw) {
  const __int128 elapsed = static_cast<__int128>(raw) - header.start_clock;
  if (header.clock_type == 2) return raw;  // already system time
  if (header.clock_type == 3) {
    if (header.cpu_mhz == 0) return header.start_time;
    return clamped(header.start_time + elapsed * 10 / header.cpu_mhz);
  }
  if (header.perf_frequency <= 0) return header.start_time;
  return clamped(header.start_time + elapsed * 10000000 / header.perf_frequency);
}

Reader::Reader(std::span<const std::uint8_t> file) : file_(file) {
  index_buffers();
  read_log_header();
}

void Reader::skip(std::uint64_t buffer_offset, std::uint32_t record_offset, std::string_view what) {
  ++figures_.skipped;
  if (figures_.skip_samples.size() < max_skip_samples) figures_.skip_samples.push_back({buffer_offset, record_offset, what});
}

// One pass over the buffer headers, each buffer's own size leading to the
// next. A size that cannot be right leaves nothing to find the next buffer
// by, except in a file of equal buffers, whose first buffer gives the size.
void Reader::index_buffers() {
  std::uint64_t at = 0;
  const std::uint64_t end = file_.size();
  // In a file of equal buffers the first buffer's log file header gives
  // their size; a compressed file's buffers differ in size.
  std::uint32_t uniform_size = 0;
  if (end >= buffer_header_size + system_full_length + 0x24) {
    const std::uint8_t* log_header = file_.data() + buffer_header_size + system_full_length;
    if ((load<std::uint32_t>(log_header + 0x20) & compressed_mode) == 0) uniform_size = load<std::uint32_t>(log_header);
  }
  while (at < end) {
    const std::uint8_t* buffer = file_.data() + at;
    if (end - at < buffer_header_size) {
      index_skips_.push_back({at, 0, "a buffer header cut off by the end of the file"});
      break;
    }
    const std::uint32_t size = load<std::uint32_t>(buffer);
    BufferPlace place{at, size, load<std::uint32_t>(buffer + at_saved_offset), load<std::uint16_t>(buffer + at_buffer_flag),
                      0, load<std::uint16_t>(buffer + at_context + 2)};
    place.processor = (place.flags & buffer_flag_processor_index) != 0 ? load<std::uint16_t>(buffer + at_context)
                                                                       : buffer[at_context];
    if (size < buffer_header_size || size > end - at) {
      index_skips_.push_back({at, 0, "a buffer whose size runs past the file"});
      const bool can_step = uniform_size >= buffer_header_size && uniform_size <= max_buffer_size && at != 0 &&
                            uniform_size <= end - at;
      if (!can_step) break;
      at += uniform_size;
      continue;
    }
    buffers_.push_back(place);
    at += size;
  }
}

void Reader::read_log_header() {
  constexpr std::uint32_t header_payload_32 = 0x110;
  constexpr std::uint32_t header_payload_64 = 0x118;
  if (buffers_.empty()) {
    problem_ = "not a trace file: it holds no buffer";
    return;
  }
  const BufferPlace& first = buffers_.front();
  const std::uint8_t* buffer = file_.data() + first.offset;
  const std::uint32_t filled = std::min(first.filled, first.size);
  const std::uint8_t* record = buffer + buffer_header_size;
  const auto kind = static_cast<HeaderKind>(filled >= buffer_header_size + 8 ? record[2] : 0);
  if ((kind != HeaderKind::system32 && kind != HeaderKind::system64) || record[6] != 0 || record[7] != 0) {
    problem_ = "not a trace file: its first buffer does not start with a log file header";
    return;
  }
  const std::uint32_t size = std::min<std::uint32_t>(record_size(record, kind), filled - buffer_header_size);
  const bool wide = kind == HeaderKind::system64;
  const std::uint32_t needed = system_full_length + (wide ? header_payload_64 : header_payload_32);
  if (size < needed) {
    problem_ = "not a trace file: its log file header is cut short";
    return;
  }
  const std::uint8_t* h = record + system_full_length;
  const std::uint32_t late = wide ? 8 : 0;  // the two name pointers are pointer-sized
  header_.buffer_size = load<std::uint32_t>(h + 0x00);
  header_.version = load<std::uint32_t>(h + 0x04);
  header_.provider_version = load<std::uint32_t>(h + 0x08);
  header_.processors = load<std::uint32_t>(h + 0x0C);
  header_.end_time = load<std::int64_t>(h + 0x10);
  header_.log_file_mode = load<std::uint32_t>(h + 0x20);
  header_.buffers_written = load<std::uint32_t>(h + 0x24);
  header_.pointer_size = load<std::uint32_t>(h + 0x2C);
  header_.events_lost = load<std::uint32_t>(h + 0x30);
  header_.cpu_mhz = load<std::uint32_t>(h + 0x34);
  header_.boot_time = load<std::int64_t>(h + 0xF0 + late);
  header_.perf_frequency = load<std::int64_t>(h + 0xF8 + late);
  header_.start_time = load<std::int64_t>(h + 0x100 + late);
  header_.clock_type = load<std::uint32_t>(h + 0x108 + late);
  header_.buffers_lost = load<std::uint32_t>(h + 0x10C + late);
  header_.start_clock = load<std::int64_t>(record + 16);
  const std::span<const std::uint8_t> whole_record(record, size);
  const std::size_t names_at = needed;
  header_.logger_name = text_at(whole_record, names_at);
  header_.log_file_name = text_at(whole_record, names_at + 2 * (header_.logger_name.size() + 1));

  if ((header_.log_file_mode & compressed_mode) == 0) return;
  header_.compression_format = load<std::uint32_t>(buffer + at_state);
  if (header_.compression_format == 3) return;
  const char* name = header_.compression_format == 2   ? " (LZNT1)"
                     : header_.compression_format == 4 ? " (LZ77 with Huffman coding)"
                                                       : "";
  problem_ = "the buffers are compressed in format " + std::to_string(header_.compression_format) + name +
             ", which this reader does not decode (it decodes format 3, plain LZ77)";
}

// The events of one processor's buffers, one at a time, each buffer read
// (and decompressed) only when its turn comes.
class StreamCursor {
 public:
  StreamCursor(Reader& reader, std::vector<std::size_t> buffers) : reader_(reader), buffers_(std::move(buffers)) {}

  const Event& event() const { return event_; }

  // Parses the next event; false at the end of the stream.
  bool advance() {
    for (;;) {
      if (at_ >= filled_ && !next_buffer()) return false;
      if (next_record()) return true;
    }
  }

 private:
  bool next_buffer() {
    while (next_ < buffers_.size()) {
      place_ = &reader_.buffers_[buffers_[next_++]];
      if (load_buffer()) {
        ++reader_.figures_.buffers;
        // A buffer as it lies in memory: a compressed one as far as it was
        // filled, any other whole.
        const bool compressed = (place_->flags & buffer_flag_compressed) != 0;
        reader_.figures_.decompressed_bytes += compressed ? filled_ : place_->size;
        at_ = static_cast<std::uint32_t>(buffer_header_size);
        return true;
      }
    }
    filled_ = at_ = 0;
    return false;
  }

  bool load_buffer() {
    const std::uint8_t* raw = reader_.file_.data() + place_->offset;
    const bool compressed = (place_->flags & buffer_flag_compressed) != 0;
    const std::uint32_t filled = place_->filled;
    if (filled < buffer_header_size || filled > max_buffer_size || (!compressed && filled > place_->size)) {
      reader_.skip(place_->offset, 0, "a buffer filled past its own size");
      return false;
    }
    if (!compressed) {
      bytes_ = raw;
      filled_ = filled;
      return true;
    }
    if ((reader_.header_.log_file_mode & compressed_mode) == 0) {
      reader_.skip(place_->offset, 0, "a compressed buffer in a file not written compressed");
      return false;
    }
    // Left unfilled: the decoder writes every byte up to the filled size or
    // the buffer is skipped, and zeroing a buffer that a few bytes of a
    // damaged file claim to fill (up to 16 MiB) cost more than reading it.
    if (filled > scratch_size_) {
      scratch_.reset(new std::uint8_t[filled]);
      scratch_size_ = filled;
    }
    std::memcpy(scratch_.get(), raw, buffer_header_size);
    const auto decoded = decompress_plain_lz77(
        std::span(raw + buffer_header_size, place_->size - buffer_header_size),
        std::span(scratch_.get() + buffer_header_size, filled - buffer_header_size));
    if (!decoded || *decoded != filled - buffer_header_size) {
      reader_.skip(place_->offset, 0, decoded ? "a compressed buffer that decodes short of its filled size"
                                              : "a compressed buffer that does not decode within its size");
      return false;
    }
    ++reader_.figures_.compressed_buffers;
    bytes_ = scratch_.get();
    filled_ = filled;
    return true;
  }

  // Reads the record at at_ into event_; false when it was skipped or the
  // buffer holds no more.
  bool next_record() {
    const std::uint32_t at = at_;
    const std::uint32_t left = filled_ - at;
    const std::uint8_t* record = bytes_ + at;
    if (left < 4 || load<std::uint32_t>(record) == end_of_records) return end_buffer();
    if (left < 6 || !is_known(record[2])) return give_up_buffer(at, "a record of an unknown header kind");
    const auto kind = static_cast<HeaderKind>(record[2]);
    const std::uint32_t size = record_size(record, kind);
    if (size == 0) return give_up_buffer(at, "a record of size 0");
    if (size > left) return give_up_buffer(at, "a record running past its buffer");
    at_ = at + std::min(align8(size), left);
    if (size < header_length(kind)) return skip_record(at, "a record shorter than its header");
    // Instance headers come only from providers that log through the
    // classic instance calls; none of the providers capture enables writes
    // them, so these are left out, counted with their offset like anything
    // else the reader does not deliver.
    if (is_instance(kind)) return skip_record(at, "an instance record, which the engine never asks for");
    start_event(event_);
    event_.kind = kind;
    event_.buffer_offset = place_->offset;
    event_.record_offset = at;
    event_.processor = place_->processor;
    event_.logger_id = place_->logger_id;
    std::uint32_t data_at = header_length(kind);
    if (is_system(kind)) fill_system(event_, record, kind);
    if (is_perfinfo(kind)) fill_perfinfo(event_, record, kind);
    if (is_full(kind)) fill_full(event_, record, kind);
    if (is_event(kind)) {
      fill_event_header(event_, record, kind);
      if ((event_.flags & flag_extended_info) != 0 && !read_extended_items(event_, record, size, data_at))
        return skip_record(at, "an event whose extended items run past it");
    }
    event_.timestamp = to_file_time(reader_.header_, event_.raw_timestamp);
    event_.user_data = record + data_at;
    event_.user_data_length = static_cast<std::uint16_t>(size - data_at);
    return true;
  }

  bool end_buffer() {
    at_ = filled_;
    return false;
  }
  bool give_up_buffer(std::uint32_t at, std::string_view what) {
    reader_.skip(place_->offset, at, what);
    return end_buffer();
  }
  bool skip_record(std::uint32_t at, std::string_view what) {
    reader_.skip(place_->offset, at, what);
    return false;
  }

  Reader& reader_;
  std::vector<std::size_t> buffers_;
  std::size_t next_ = 0;
  const Reader::BufferPlace* place_ = nullptr;
  std::unique_ptr<std::uint8_t[]> scratch_;  // decompressed buffers, scratch_size_ bytes
  std::size_t scratch_size_ = 0;
  const std::uint8_t* bytes_ = nullptr;
  std::uint32_t filled_ = 0;
  std::uint32_t at_ = 0;
  Event event_;
};

void Reader::read_events(void* context, void (*visit)(void*, const Event&)) {
  figures_ = Figures{};
  figures_.file_bytes = file_.size();
  for (const Skip& skipped : index_skips_) skip(skipped.buffer_offset, skipped.record_offset, skipped.what);
  if (!problem_.empty()) return;

  // One stream per processor, in the order the processors first appear.
  std::unordered_map<std::uint16_t, std::size_t> stream_of;
  std::vector<std::vector<std::size_t>> stream_buffers;
  for (std::size_t i = 0; i < buffers_.size(); ++i) {
    auto [place, added] = stream_of.try_emplace(buffers_[i].processor, stream_buffers.size());
    if (added && stream_buffers.size() == max_processor_streams) {
      stream_of.erase(place);
      skip(buffers_[i].offset, 0, "a buffer of more processors than the reader follows");
      continue;
    }
    if (added) stream_buffers.emplace_back();
    stream_buffers[place->second].push_back(i);
  }
  std::vector<std::unique_ptr<StreamCursor>> streams;
  for (auto& buffers : stream_buffers) streams.push_back(std::make_unique<StreamCursor>(*this, std::move(buffers)));

  // The earliest event of all the streams goes first; an equal time goes
  // by the place in the file.
  struct Head {
    std::int64_t time;
    std::uint64_t buffer_offset;
    std::uint32_t record_offset;
    std::size_t stream;
    bool operator>(const Head& other) const {
      if (time != other.time) return time > other.time;
      if (buffer_offset != other.buffer_offset) return buffer_offset > other.buffer_offset;
      return record_offset > other.record_offset;
    }
  };
  const auto head_of = [&](std::size_t stream) {
    const Event& event = streams[stream]->event();
    return Head{event.raw_timestamp, event.buffer_offset, event.record_offset, stream};
  };
  std::priority_queue<Head, std::vector<Head>, std::greater<Head>> heads;
  for (std::size_t s = 0; s < streams.size(); ++s)
    if (streams[s]->advance()) heads.push(head_of(s));
  while (!heads.empty()) {
    const std::size_t stream = heads.top().stream;
    heads.pop();
    ++figures_.events;
    visit(context, streams[stream]->event());
    if (streams[stream]->advance()) heads.push(head_of(stream));
  }
}

}  // namespace mirrow::trace_file
