#include "engine/capture/trace_replay.h"

#include <cstring>

#include "common/json_writer.h"
#include "common/utf16.h"
#include "engine/capture/binding.h"
#include "engine/core/result_codes.h"

namespace mirrow {
namespace {

constexpr std::uint32_t result_not_a_trace = 13;  // ERROR_INVALID_DATA

// Volume mappings pair a device path with the path it is reached by, as
// opcode 35 of two classes: the configuration events that tools merging
// kernel traces add, and the kernel's own system-configuration group.
constexpr trace_file::Guid system_config_ex{0x9B79EE91, 0xB5FD, 0x41C0, {0xA2, 0x43, 0x42, 0x48, 0xE2, 0x66, 0xE9, 0xD0}};
constexpr std::uint8_t system_config_group = 0x0B;
constexpr std::uint8_t volume_mapping_opcode = 35;

bool is_volume_mapping(const trace_file::Event& event) {
  if (event.opcode != volume_mapping_opcode) return false;
  return event.provider == system_config_ex || event.provider == trace_file::kernel_group_guid(system_config_group);
}

constexpr std::u16string_view device_prefix = u"\\device\\";

// A drive as the device map keeps it ("c:"), from "C:", "C:\" or "c".
std::optional<std::u16string> drive_of(std::u16string_view text) {
  if (text.empty() || text.size() > 3) return std::nullopt;
  const char16_t letter = text[0];
  const bool is_letter = (letter >= u'A' && letter <= u'Z') || (letter >= u'a' && letter <= u'z');
  if (!is_letter || (text.size() >= 2 && text[1] != u':') || (text.size() == 3 && text[2] != u'\\')) return std::nullopt;
  return normalize_path(std::u16string{letter, u':'});
}

std::optional<std::u16string> device_of(std::u16string_view text) {
  std::u16string device = normalize_path(std::u16string(text));
  if (device.size() <= device_prefix.size() || !device.starts_with(device_prefix)) return std::nullopt;
  return device;
}

// A NUL-terminated UTF-16 text `at` bytes into the user data.
std::u16string text_in(const trace_file::Event& event, std::size_t& at) {
  std::u16string text;
  while (at + 2 <= event.user_data_length) {
    char16_t unit;
    std::memcpy(&unit, event.user_data + at, 2);
    at += 2;
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}

std::optional<DeviceMapping> volume_mapping(const trace_file::Event& event) {
  if (!is_volume_mapping(event)) return std::nullopt;
  std::size_t at = 0;
  const std::u16string nt_path = text_in(event, at);
  const std::u16string dos_path = text_in(event, at);
  auto device = device_of(nt_path);
  auto drive = drive_of(dos_path);
  if (!device || !drive) return std::nullopt;
  return DeviceMapping{std::move(*device), std::move(*drive)};
}

void add_mapping(DeviceMap& map, DeviceMapping mapping) {
  for (DeviceMapping& known : map) {
    if (known.device == mapping.device) {
      known.drive = std::move(mapping.drive);  // the later entry wins
      return;
    }
  }
  map.push_back(std::move(mapping));
}

std::string_view source_word(int source) {
  switch (source) {
    case 0: return "option";
    case 1: return "recording";
    default: return "local";
  }
}

void write_device_map(JsonWriter& json, int source, const DeviceMap& map) {
  json.key("device_map").begin_object().key("source").word(source_word(source)).key("entries").begin_array();
  for (const DeviceMapping& mapping : map)
    json.begin_object().key("device").text(mapping.device).key("drive").text(mapping.drive).end_object();
  json.end_array().end_object();
}

void write_figures(JsonWriter& json, const trace_file::Figures& figures) {
  json.key("events_read").u64(figures.events)
      .key("events_skipped").u64(figures.skipped)
      .key("buffers").u64(figures.buffers)
      .key("compressed_buffers").u64(figures.compressed_buffers)
      .key("decompressed_bytes").u64(figures.decompressed_bytes)
      .key("file_bytes").u64(figures.file_bytes)
      .key("skipped").begin_array();
  for (const trace_file::Skip& skip : figures.skip_samples) {
    json.begin_object()
        .key("buffer_offset").u64(skip.buffer_offset)
        .key("record_offset").u64(skip.record_offset)
        .key("what").text(utf16_from_utf8(skip.what))
        .end_object();
  }
  json.end_array();
}

std::string refusal_report(std::u16string_view file_name, std::string_view problem) {
  std::string report;
  JsonWriter(report).begin_object().key("file").text(file_name).key("problem").text(utf16_from_utf8(problem)).end_object();
  return report;
}

// Swaps the engine's device map for the replay's and back. Names made from
// raw paths remember how they were mapped, so that memory goes with each swap.
class DeviceMapSwap {
 public:
  DeviceMapSwap(NameTable& names, RecentNames& recent, DeviceMap map)
      : names_(names), recent_(recent), saved_(std::move(names.device_map)) {
    names_.device_map = std::move(map);
    recent_.forget();
  }
  ~DeviceMapSwap() {
    names_.device_map = std::move(saved_);
    recent_.forget();
  }
  DeviceMapSwap(const DeviceMapSwap&) = delete;
  DeviceMapSwap& operator=(const DeviceMapSwap&) = delete;

 private:
  NameTable& names_;
  RecentNames& recent_;
  DeviceMap saved_;
};

TraceReplay out_of_memory_report(std::u16string_view file_name) noexcept {
  try {
    return {result_out_of_memory, refusal_report(file_name, "not enough memory")};
  } catch (...) {
    return {result_out_of_memory, {}};
  }
}

}  // namespace

std::optional<DeviceMap> parse_device_entries(std::u16string_view text, std::string& problem) {
  DeviceMap map;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find(u'\n'), text.size());
    std::u16string_view entry = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (!entry.empty() && entry.back() == u'\r') entry.remove_suffix(1);
    if (entry.empty()) continue;
    const std::size_t equals = entry.rfind(u'=');
    const auto device = equals == std::u16string_view::npos ? std::nullopt : device_of(entry.substr(0, equals));
    const auto drive = equals == std::u16string_view::npos ? std::nullopt : drive_of(entry.substr(equals + 1));
    if (!device || !drive) {
      problem = "not a device entry (\\Device\\...=X:): " + utf8_from_utf16(entry);
      return std::nullopt;
    }
    add_mapping(map, {*device, *drive});
  }
  sort_device_map(map);
  return map;
}

DeviceMap recorded_device_map(trace_file::Reader& reader) {
  DeviceMap map;
  reader.read([&](const trace_file::Event& event) {
    if (auto mapping = volume_mapping(event)) add_mapping(map, std::move(*mapping));
  });
  sort_device_map(map);
  return map;
}

EventView event_view(const trace_file::Event& event) {
  ProviderGuid guid;
  static_assert(sizeof guid == 16 && sizeof event.provider == 16);
  std::memcpy(&guid, &event.provider, sizeof guid);
  EventView view;
  view.provider = provider_of(guid);
  view.event_id = event.id;
  view.version = event.version;
  view.opcode = event.opcode;
  view.header_32bit = (event.flags & trace_file::flag_32bit_header) != 0;
  view.process_id = event.process_id;
  view.timestamp = event.timestamp;
  view.user_data = event.user_data;
  view.user_data_length = event.user_data_length;
  return view;
}

void route_recorded_event(void* decoding, const trace_file::Event& event) {
  route_event(*static_cast<const Decoding*>(decoding), event_view(event));
}

TraceReplay refused_trace_replay(Counters& counters, std::u16string_view file_name,
                                 std::string_view problem) noexcept {
  try {
    return {result_invalid, refusal_report(file_name, problem)};
  } catch (...) {
    counters.add(Counter::errors);
  }
  return out_of_memory_report(file_name);
}

TraceReplay replay_trace(const Decoding& d, std::u16string_view file_name, std::span<const std::uint8_t> bytes,
                         const std::optional<std::u16string>& device_entries, TraceEventSink sink,
                         void* context) noexcept {
  try {
    std::optional<DeviceMap> given;
    if (device_entries) {
      std::string problem;
      given = parse_device_entries(*device_entries, problem);
      if (!given) return {result_invalid, refusal_report(file_name, problem)};
    }
    trace_file::Reader reader(bytes);
    if (!reader.problem().empty()) return {result_not_a_trace, refusal_report(file_name, reader.problem())};

    int source = 0;
    DeviceMap map;
    if (given) {
      map = std::move(*given);
    } else if (DeviceMap recorded = recorded_device_map(reader); !recorded.empty()) {
      source = 1;
      map = std::move(recorded);
    } else {
      source = 2;
      map = d.names.device_map;
    }
    {
      DeviceMapSwap swap(d.names, d.bindings.recent_names, map);
      reader.read([&](const trace_file::Event& event) { sink(context, event); });
      recover_pending(d.bindings, d.counters, d.activity, true);
    }

    std::string report;
    JsonWriter json(report);
    json.begin_object().key("file").text(file_name);
    write_figures(json, reader.figures());
    write_device_map(json, source, map);
    json.end_object();
    return {result_ok, std::move(report)};
  } catch (...) {
    d.counters.add(Counter::errors);
  }
  return out_of_memory_report(file_name);
}

}  // namespace mirrow
