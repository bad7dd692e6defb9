#include "engine/capture/session_settings.h"

namespace mirrow {
namespace {

void append_hex(std::u16string& out, std::uint64_t value, int digits) {
  static constexpr char16_t hex[] = u"0123456789ABCDEF";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out.push_back(hex[(value >> shift) & 0xF]);
}

constexpr std::uint16_t capture_event_ids[] = {10, 11, 12, 14, 15, 16, 26, 27, 30};
constexpr std::uint16_t operation_end_event = 24;

void append_u16(std::vector<std::uint8_t>& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

}  // namespace

std::u16string guid_registry_text(const SessionGuid& guid) {
  std::u16string text;
  text.reserve(38);
  text.push_back(u'{');
  append_hex(text, guid.data1, 8);
  text.push_back(u'-');
  append_hex(text, guid.data2, 4);
  text.push_back(u'-');
  append_hex(text, guid.data3, 4);
  text.push_back(u'-');
  append_hex(text, guid.data4[0], 2);
  append_hex(text, guid.data4[1], 2);
  text.push_back(u'-');
  for (std::size_t i = 2; i < 8; ++i) append_hex(text, guid.data4[i], 2);
  text.push_back(u'}');
  return text;
}

std::u16string session_name(std::u16string_view prefix, const SessionGuid& guid) {
  std::u16string name(prefix);
  name += guid_registry_text(guid);
  return name;
}

SessionProperties names_session_properties() {
  return {.wnode_flags = 0x00020000,
          .client_context = 1,
          .buffer_size_kb = 256,
          .minimum_buffers = 16,
          .maximum_buffers = 128,
          .flush_timer_seconds = 1,
          .log_file_mode = 0x02000100,
          .enable_flags = 0x10000300};
}

SessionProperties capture_session_properties() {
  return {.wnode_flags = 0x00020000,
          .client_context = 1,
          .buffer_size_kb = 256,
          .minimum_buffers = 32,
          .maximum_buffers = 128,
          .flush_timer_seconds = 1,
          .log_file_mode = 0x00000100,
          .enable_flags = 0};
}

SessionProperties recording_session_properties() {
  constexpr std::uint32_t sequential_file = 0x00000001;
  constexpr std::uint32_t real_time = 0x00000100;
  SessionProperties recording = capture_session_properties();
  const SessionProperties names = names_session_properties();
  recording.log_file_mode = (names.log_file_mode & ~real_time) | sequential_file;
  recording.enable_flags = names.enable_flags;
  return recording;
}

std::vector<std::uint8_t> event_id_filter_body(bool track_missing_opens) {
  const std::uint16_t count = static_cast<std::uint16_t>(std::size(capture_event_ids) + (track_missing_opens ? 1 : 0));
  std::vector<std::uint8_t> body{1, 0};
  append_u16(body, count);
  for (const std::uint16_t id : capture_event_ids) append_u16(body, id);
  if (track_missing_opens) append_u16(body, operation_end_event);
  return body;
}

std::uint32_t next_listing_capacity(std::uint32_t capacity, std::uint32_t reported) {
  if (reported <= capacity || capacity >= listing_capacity_cap) return 0;
  const std::uint64_t wanted = std::uint64_t{reported} + listing_slack;
  return static_cast<std::uint32_t>(wanted < listing_capacity_cap ? wanted : listing_capacity_cap);
}

}  // namespace mirrow
