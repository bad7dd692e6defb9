#pragma once
// A reader of trace files (.etl) as Windows writes them: the buffers, the log
// file header of the first buffer, every kind of record header the buffers
// hold, and buffers compressed with plain LZ77. It hands out each event with
// the fields an EVENT_RECORD has when ProcessTrace delivers it, in the order
// ProcessTrace delivers them: by time stamp, merging the processors' buffers.
// Pure code over the file's bytes: bad input is skipped and counted, never
// read outside the file.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace mirrow::trace_file {

struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::array<std::uint8_t, 8> data4{};

  friend bool operator==(const Guid&, const Guid&) = default;
};

// The byte at offset 2 of every record: which header it starts with.
enum class HeaderKind : std::uint8_t {
  system32 = 0x01,
  system64 = 0x02,
  compact32 = 0x03,
  compact64 = 0x04,
  full32 = 0x0A,
  instance32 = 0x0B,
  perfinfo32 = 0x10,
  perfinfo64 = 0x11,
  event32 = 0x12,
  event64 = 0x13,
  full64 = 0x14,
  instance64 = 0x15,
};

// EVENT_HEADER flags as a consumer sees them.
inline constexpr std::uint16_t flag_extended_info = 0x0001;
inline constexpr std::uint16_t flag_32bit_header = 0x0020;
inline constexpr std::uint16_t flag_64bit_header = 0x0040;
inline constexpr std::uint16_t flag_classic_header = 0x0100;

// Log file mode bit of a file whose buffers are compressed.
inline constexpr std::uint32_t compressed_mode = 0x04000000;
// Buffer flag of a compressed buffer, and of one whose context carries a
// 16-bit processor index.
inline constexpr std::uint16_t buffer_flag_compressed = 0x0040;
inline constexpr std::uint16_t buffer_flag_processor_index = 0x0020;
inline constexpr std::size_t buffer_header_size = 0x48;

// What the first record of the first buffer says of the session.
struct LogHeader {
  std::uint32_t buffer_size = 0;
  std::uint32_t version = 0;  // major, minor, sub, sub-minor from the low byte up
  std::uint32_t provider_version = 0;
  std::uint32_t processors = 0;
  std::int64_t end_time = 0;
  std::uint32_t log_file_mode = 0;
  std::uint32_t buffers_written = 0;
  std::uint32_t pointer_size = 0;
  std::uint32_t events_lost = 0;
  std::uint32_t cpu_mhz = 0;
  std::int64_t boot_time = 0;
  std::int64_t perf_frequency = 0;
  std::int64_t start_time = 0;
  std::uint32_t clock_type = 0;  // 1 performance counter, 2 system time, 3 processor cycles
  std::uint32_t buffers_lost = 0;
  // The header record's own raw time stamp: the clock reading that
  // start_time names.
  std::int64_t start_clock = 0;
  // Compression format of the buffers when the file is compressed (3: plain LZ77).
  std::uint32_t compression_format = 0;
  std::u16string logger_name;
  std::u16string log_file_name;
};

struct ExtendedItem {
  std::uint16_t type = 0;
  std::uint16_t size = 0;
  const std::uint8_t* data = nullptr;
};

inline constexpr std::size_t max_extended_items = 8;

// One event with what EVENT_RECORD holds. The pointers stay valid until the
// visitor returns.
struct Event {
  Guid provider;
  std::uint16_t id = 0;
  std::uint8_t version = 0;
  std::uint8_t channel = 0;
  std::uint8_t level = 0;
  std::uint8_t opcode = 0;
  std::uint16_t task = 0;
  std::uint64_t keyword = 0;
  std::uint16_t flags = 0;
  std::uint16_t event_property = 0;
  std::uint32_t thread_id = 0;
  std::uint32_t process_id = 0;
  std::int64_t timestamp = 0;  // 100-ns units since 1601-01-01 UTC
  std::int64_t raw_timestamp = 0;
  std::uint32_t kernel_time = 0;
  std::uint32_t user_time = 0;
  Guid activity_id;
  std::uint16_t processor = 0;
  std::uint16_t logger_id = 0;
  const std::uint8_t* user_data = nullptr;
  std::uint16_t user_data_length = 0;
  std::array<ExtendedItem, max_extended_items> extended{};
  std::uint16_t extended_count = 0;
  HeaderKind kind = HeaderKind::event64;
  std::uint64_t buffer_offset = 0;  // the buffer's place in the file
  std::uint32_t record_offset = 0;  // the record's place in the buffer, as decompressed
};

// Something the reader skipped: where, and what was wrong with it.
struct Skip {
  std::uint64_t buffer_offset = 0;
  std::uint32_t record_offset = 0;  // 0 when the whole buffer was skipped
  std::string_view what;
};

struct Figures {
  std::uint64_t file_bytes = 0;
  std::uint64_t buffers = 0;
  std::uint64_t compressed_buffers = 0;
  std::uint64_t decompressed_bytes = 0;  // every buffer's header and contents as the events were read from
  std::uint64_t events = 0;
  std::uint64_t skipped = 0;
  std::vector<Skip> skip_samples;  // the first few
};

inline constexpr std::size_t max_skip_samples = 32;
// Larger buffers are refused: Windows writes none above 16 MiB.
inline constexpr std::uint32_t max_buffer_size = 16u << 20;
inline constexpr std::size_t max_processor_streams = 4096;

class Reader {
 public:
  // The bytes must outlive the reader.
  explicit Reader(std::span<const std::uint8_t> file);

  // Empty when the file can be read; otherwise why not (not a trace file, a
  // compression format this reader does not decode).
  const std::string& problem() const { return problem_; }
  const LogHeader& header() const { return header_; }

  // Calls visit(const Event&) for every event, in time order. May be called
  // again; each call reads the file anew and starts the figures afresh.
  template <typename Visit>
  void read(Visit&& visit) {
    using Visitor = std::remove_reference_t<Visit>;
    read_events(const_cast<void*>(static_cast<const void*>(&visit)),
                [](void* context, const Event& event) { (*static_cast<Visitor*>(context))(event); });
  }

  const Figures& figures() const { return figures_; }

 private:
  struct BufferPlace {
    std::uint64_t offset = 0;
    std::uint32_t size = 0;     // in the file
    std::uint32_t filled = 0;   // header and records, as decompressed
    std::uint16_t flags = 0;
    std::uint16_t processor = 0;
    std::uint16_t logger_id = 0;
  };

  void index_buffers();
  void read_log_header();
  void read_events(void* context, void (*visit)(void*, const Event&));
  void skip(std::uint64_t buffer_offset, std::uint32_t record_offset, std::string_view what);
  friend class StreamCursor;

  std::span<const std::uint8_t> file_;
  std::string problem_;
  LogHeader header_;
  std::vector<BufferPlace> buffers_;
  std::vector<Skip> index_skips_;  // found while indexing, replayed into every read's figures
  Figures figures_;
};

// The provider GUID that ProcessTrace gives a classic kernel event of this
// group (the high byte of its hook id); all zeros for a group it is not known for.
Guid kernel_group_guid(std::uint8_t group);

// Converts a raw time stamp as ProcessTrace does for this file's clock.
std::int64_t to_file_time(const LogHeader& header, std::int64_t raw);

}  // namespace mirrow::trace_file
