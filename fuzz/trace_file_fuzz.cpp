// The trace file reader and the plain LZ77 decoder. The first byte picks:
//   even: the rest is a trace file. Every event is read, and every byte of
//         its user data and extended items is touched, so a view that
//         points outside the file or the decompressed buffer is caught; the
//         figures must agree with what was delivered, and a second read of
//         the same bytes must deliver the same events.
//   odd:  the rest goes through the decoder into an output whose size the
//         next two bytes give, and the same bytes are encoded by the tests'
//         encoder and must decode back exactly.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "engine/capture/trace_file.h"
#include "engine/capture/xpress_lz77.h"
#include "support/lz77_encoder.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

std::uint64_t touch(const std::uint8_t* data, std::size_t size) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < size; ++i) sum += data[i];
  return sum;
}

std::uint64_t read_all(mirrow::trace_file::Reader& reader, std::uint64_t& events) {
  std::uint64_t sum = 0;
  events = 0;
  reader.read([&](const mirrow::trace_file::Event& e) {
    ++events;
    require(e.extended_count <= mirrow::trace_file::max_extended_items);
    sum += touch(e.user_data, e.user_data_length) + static_cast<std::uint64_t>(e.timestamp);
    for (std::uint16_t i = 0; i < e.extended_count; ++i) sum += touch(e.extended[i].data, e.extended[i].size);
  });
  return sum;
}

void fuzz_reader(std::span<const std::uint8_t> file) {
  mirrow::trace_file::Reader reader(file);
  std::uint64_t events = 0;
  const std::uint64_t sum = read_all(reader, events);
  require(reader.figures().events == events);
  require(reader.figures().skip_samples.size() <= mirrow::trace_file::max_skip_samples);
  if (!reader.problem().empty()) require(events == 0);
  std::uint64_t again = 0;
  require(read_all(reader, again) == sum && again == events);
}

void fuzz_decoder(std::span<const std::uint8_t> input) {
  if (input.size() < 2) return;
  const std::size_t capacity = input[0] | static_cast<std::size_t>(input[1]) << 8;
  input = input.subspan(2);
  std::vector<std::uint8_t> out(capacity);
  const auto written = mirrow::decompress_plain_lz77(input, out);
  if (written) require(*written <= capacity);

  const std::vector<std::uint8_t> packed = mirrow::testing::encode_plain_lz77(input);
  std::vector<std::uint8_t> back(input.size());
  const auto decoded = mirrow::decompress_plain_lz77(packed, back);
  require(decoded && *decoded == input.size() && std::equal(back.begin(), back.end(), input.begin()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::span<const std::uint8_t> rest(data + 1, size - 1);
  if (data[0] % 2 == 0) fuzz_reader(rest);
  else fuzz_decoder(rest);
  return 0;
}
