#pragma once
// The fixed settings of the two trace sessions: their names, the values of
// their property blocks, and the event-id filter of the capture session.
// Kept free of system headers so the exact bytes and values are checked
// natively; the Windows side copies them into the platform structures.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/trace_session_owner.h"

namespace mirrow {

// A GUID as the system hands it out (same field layout as the platform's).
struct SessionGuid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::array<std::uint8_t, 8> data4{};
};

// names_session_prefix and capture_session_prefix live with the ownership
// rule, which the reference host shares.

// Registry form with braces and upper-case digits, 38 characters:
// {01234567-89AB-CDEF-0123-456789ABCDEF}.
std::u16string guid_registry_text(const SessionGuid& guid);
std::u16string session_name(std::u16string_view prefix, const SessionGuid& guid);

// The property block: the platform's fixed part (120 bytes) followed by
// room for a 1024-character session name.
inline constexpr std::uint32_t property_block_bytes = 2168;
inline constexpr std::uint32_t logger_name_offset = 120;
inline constexpr std::size_t max_session_name_units = (property_block_bytes - logger_name_offset) / 2;

struct SessionProperties {
  std::uint32_t wnode_flags;      // traced GUID
  std::uint32_t client_context;   // 1: query-performance-counter clock
  std::uint32_t buffer_size_kb;
  std::uint32_t minimum_buffers;
  std::uint32_t maximum_buffers;
  std::uint32_t flush_timer_seconds;
  std::uint32_t log_file_mode;
  std::uint32_t enable_flags;
};

// Short system-logger session with the disk and file-I/O kernel flags.
SessionProperties names_session_properties();
// Long-running real-time session for the kernel file provider.
SessionProperties capture_session_properties();
// A recording to a file of what both sessions receive: the capture
// session's buffers, the names session's kernel flags in the system
// logger's mode, written sequentially to the file instead of in real time.
SessionProperties recording_session_properties();

// A recording's property block: the fixed part, the session name, then the
// log file name, each with room for 1024 characters.
inline constexpr std::uint32_t recording_block_bytes = logger_name_offset + 2 * 2 * 1024;
inline constexpr std::uint32_t recording_file_name_offset = logger_name_offset + 2 * 1024;
inline constexpr std::size_t max_recording_file_units = 1023;

// The kernel file provider and how it is enabled.
inline constexpr SessionGuid kernel_file_provider{0xEDD08927, 0x9CC4, 0x4E65, {0xB9, 0x70, 0xC2, 0x56, 0x0F, 0xB5, 0xC2, 0x89}};
inline constexpr std::uint8_t provider_level_information = 4;
inline constexpr std::uint64_t capture_match_any_keywords = 0x1FF0;
inline constexpr std::uint64_t capture_state_keywords = 0x10;  // file names
inline constexpr std::uint32_t capture_state_timeout_ms = 1000;
inline constexpr std::uint32_t event_id_filter_type = 0x80000200;

// Consumer: event-record callback in real-time mode.
inline constexpr std::uint32_t consumer_mode = 0x10000100;

// Body of the event-id filter: filter-in flag 1, a reserved 0, the count,
// then the ids. Operation-end events (24) are asked for only when failed
// opens of missing paths are tracked.
std::vector<std::uint8_t> event_id_filter_body(bool track_missing_opens);

// Control codes of ControlTraceW.
inline constexpr std::uint32_t control_query = 0;
inline constexpr std::uint32_t control_stop = 1;

// Loss counts of a stopped or queried session.
struct SessionLosses {
  std::uint64_t events = 0;
  std::uint64_t buffers = 0;  // log buffers plus real-time buffers
};
inline SessionLosses session_losses(std::uint32_t events_lost, std::uint32_t log_buffers_lost,
                                    std::uint32_t real_time_buffers_lost) {
  return {events_lost, std::uint64_t{log_buffers_lost} + real_time_buffers_lost};
}

// Listing the running sessions to find orphans. Each entry of the listing
// is a property block with room for a session name and a log file name of
// 1024 characters each. The first query asks for 64 entries, the most every
// system accepts; when more sessions are reported, newer systems accept a
// larger listing, up to a cap that keeps the listing's memory bounded.
inline constexpr std::uint32_t listed_name_units = 1024;
inline constexpr std::uint32_t listing_log_file_name_offset = logger_name_offset + 2 * listed_name_units;
inline constexpr std::uint32_t listing_block_bytes = listing_log_file_name_offset + 2 * listed_name_units;
inline constexpr std::uint32_t listing_first_capacity = 64;
inline constexpr std::uint32_t listing_capacity_cap = 1024;
inline constexpr int listing_attempts = 3;
// Room for sessions that start between two queries.
inline constexpr std::uint32_t listing_slack = 8;

// The capacity of the next query after one of `capacity` entries reported
// `reported` sessions; 0 when a larger listing is not worth asking for.
std::uint32_t next_listing_capacity(std::uint32_t capacity, std::uint32_t reported);

// Orphans are stopped only within this time from the start of the sweep, so
// that a machine full of them cannot hold up the start; the rest wait for
// the next start.
inline constexpr std::uint64_t orphan_sweep_budget_ms = 2000;

// Status for a consumer open that failed without leaving an error code, so
// the failure can never read as success.
inline constexpr std::uint32_t unexplained_open_failure = 31;  // ERROR_GEN_FAILURE
inline std::uint32_t open_failure_status(std::uint32_t last_error) {
  return last_error != 0 ? last_error : unexplained_open_failure;
}

}  // namespace mirrow
