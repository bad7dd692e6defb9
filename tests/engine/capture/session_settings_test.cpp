#include "engine/capture/session_settings.h"

#include <gtest/gtest.h>

namespace mirrow {
namespace {

constexpr SessionGuid sample_guid{0x0123ABCD, 0x4567, 0x89EF, {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}};

TEST(SessionNames, carry_the_prefix_and_the_guid_in_registry_form) {
  EXPECT_EQ(guid_registry_text(sample_guid), u"{0123ABCD-4567-89EF-FEDC-BA9876543210}");
  EXPECT_EQ(session_name(names_session_prefix, sample_guid), u"VextrumMirrowNames-{0123ABCD-4567-89EF-FEDC-BA9876543210}");
  EXPECT_EQ(session_name(capture_session_prefix, SessionGuid{}),
            u"VextrumMirrowNative-{00000000-0000-0000-0000-000000000000}");
  EXPECT_EQ(names_session_prefix.size(), 19u);
  EXPECT_EQ(capture_session_prefix.size(), 20u);
  EXPECT_LE(session_name(capture_session_prefix, sample_guid).size(), max_session_name_units);
}

TEST(EventIdFilter, lists_nine_ids_without_missing_open_tracking) {
  const std::vector<std::uint8_t> expected{1, 0, 9, 0, 10, 0, 11, 0, 12, 0, 14, 0, 15, 0, 16, 0, 26, 0, 27, 0, 30, 0};
  EXPECT_EQ(event_id_filter_body(false), expected);
  EXPECT_EQ(expected.size(), 22u);
}

TEST(EventIdFilter, adds_operation_end_last_when_tracking_missing_opens) {
  const std::vector<std::uint8_t> expected{1, 0, 10, 0, 10, 0, 11, 0, 12, 0, 14, 0, 15, 0, 16, 0, 26, 0, 27, 0, 30, 0, 24, 0};
  EXPECT_EQ(event_id_filter_body(true), expected);
}

TEST(SessionProperties, a_recording_takes_the_capture_buffers_and_the_names_kernel_flags_into_a_file) {
  const SessionProperties recording = recording_session_properties();
  EXPECT_EQ(recording.log_file_mode, 0x02000001u);  // system logger, sequential file, not real time
  EXPECT_EQ(recording.enable_flags, names_session_properties().enable_flags);
  EXPECT_EQ(recording.minimum_buffers, capture_session_properties().minimum_buffers);
  EXPECT_EQ(recording.client_context, 1u);
  EXPECT_EQ(recording_file_name_offset + 2 * (max_recording_file_units + 1), recording_block_bytes);
}

TEST(SessionProperties, differ_only_in_buffers_mode_and_kernel_flags) {
  const SessionProperties names = names_session_properties();
  const SessionProperties capture = capture_session_properties();
  EXPECT_EQ(names.minimum_buffers, 16u);
  EXPECT_EQ(capture.minimum_buffers, 32u);
  EXPECT_EQ(names.log_file_mode, 0x02000100u);
  EXPECT_EQ(capture.log_file_mode, 0x00000100u);
  EXPECT_EQ(names.enable_flags, 0x10000300u);
  EXPECT_EQ(capture.enable_flags, 0u);
  for (const SessionProperties& p : {names, capture}) {
    EXPECT_EQ(p.wnode_flags, 0x00020000u);
    EXPECT_EQ(p.client_context, 1u);
    EXPECT_EQ(p.buffer_size_kb, 256u);
    EXPECT_EQ(p.maximum_buffers, 128u);
    EXPECT_EQ(p.flush_timer_seconds, 1u);
  }
  EXPECT_EQ(property_block_bytes, 2168u);
  EXPECT_EQ(logger_name_offset + 2 * 1024, property_block_bytes);
}

TEST(SessionLosses, add_log_and_real_time_buffers_without_wrapping) {
  const SessionLosses losses = session_losses(7, 0xFFFFFFFF, 2);
  EXPECT_EQ(losses.events, 7u);
  EXPECT_EQ(losses.buffers, 0x100000001ull);
}

TEST(OpenFailureStatus, never_reads_as_success) {
  EXPECT_EQ(open_failure_status(5), 5u);
  EXPECT_NE(open_failure_status(0), 0u);
}

TEST(SessionListing, has_room_for_a_session_and_a_log_file_name_of_1024_characters) {
  EXPECT_EQ(listing_log_file_name_offset, logger_name_offset + 2048);
  EXPECT_EQ(listing_block_bytes, 120u + 2048 + 2048);
  EXPECT_EQ(listing_first_capacity, 64u);
}

TEST(SessionListing, grows_to_hold_every_reported_session_with_room_to_spare) {
  EXPECT_EQ(next_listing_capacity(64, 70), 78u);
  EXPECT_EQ(next_listing_capacity(78, 200), 208u);
}

TEST(SessionListing, stops_growing_when_everything_fitted_or_at_its_cap) {
  EXPECT_EQ(next_listing_capacity(64, 64), 0u);
  EXPECT_EQ(next_listing_capacity(64, 3), 0u);
  EXPECT_EQ(next_listing_capacity(64, 5000), listing_capacity_cap);
  EXPECT_EQ(next_listing_capacity(listing_capacity_cap, 5000), 0u);
  EXPECT_EQ(next_listing_capacity(64, 0xFFFFFFFFu), listing_capacity_cap);
}

}  // namespace
}  // namespace mirrow
