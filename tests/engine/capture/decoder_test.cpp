// Decoding of kernel file events: every layout, the checks and counters for
// bad input, and the roads from an event to bindings and activity.
#include <gtest/gtest.h>

#include <cmath>

#include "decode_fixture.h"
#include "engine/capture/payload_parse.h"

namespace mirrow::test {
namespace {

constexpr std::uint64_t key = 0xA000;
constexpr std::uint64_t object = 0xB000;
constexpr std::uint64_t irp = 0xC000;

class DecoderTest : public DecodeTest {};

// ---- roads from events to activity ------------------------------------------

TEST_F(DecoderTest, a_read_after_name_create_is_attributed_and_binds_its_file_object) {
  decode(10, 0, name_event(8, key, u"C:\\Data\\Report.txt"), 10);
  decode(15, 1, io_event(8, 1, object, key), 11);
  const auto got = activities();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].path, "c:\\data\\report.txt");
  EXPECT_EQ(got[0].kind, 1u);
  EXPECT_EQ(got[0].pid, pid);
  EXPECT_EQ(counter(Counter::key_derived_bindings), 1u);
  EXPECT_EQ(counter(Counter::manifest_names), 1u);
  EXPECT_EQ(counter(Counter::io_total), 1u);
  EXPECT_EQ(engine.bindings.object_bindings.find(object)->start, 10);
  EXPECT_EQ(counter(Counter::errors), 0u);
}

TEST_F(DecoderTest, a_read_without_a_file_object_derives_no_object_binding) {
  decode(10, 0, name_event(8, key, u"c:\\data\\a"), 10);
  decode(15, 1, io_event(8, 1, 0, key), 11);
  EXPECT_EQ(activities().size(), 1u);
  EXPECT_EQ(counter(Counter::key_derived_bindings), 0u);
  EXPECT_TRUE(engine.bindings.object_bindings.empty());
}

TEST_F(DecoderTest, a_read_of_a_created_object_is_attributed_and_names_its_file_key) {
  decode(12, 0, create_event(8, 0, irp, 7, u"c:\\data\\a"), 10);
  decode(16, 0, io_event(8, 0, 7, key), 11);
  const auto got = activities();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].kind, 2u);
  const Binding* spread = engine.bindings.key_bindings.find(key);
  ASSERT_NE(spread, nullptr);
  EXPECT_EQ(spread->start, 10);
  EXPECT_EQ(counter(Counter::key_derived_bindings), 0u);
}

TEST_F(DecoderTest, a_new_file_delete_and_rename_by_path_are_recorded_in_both_versions) {
  for (std::uint8_t version : {0, 1}) {
    decode(30, version, create_event(8, version, irp, 7, u"c:\\data\\new"), 10.0 + 10 * version);
    decode(26, version, path_event(8, version, u"c:\\data\\gone"), 10.0 + 10 * version);
    decode(27, version, path_event(4, version, u"c:\\data\\moved"), 10.0 + 10 * version, 4);
  }
  std::vector<std::pair<std::string, std::uint32_t>> got;
  for (const Activity& a : activities()) got.emplace_back(a.path, a.kind);
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<std::pair<std::string, std::uint32_t>>{{"c:\\data\\gone", 4u}, {"c:\\data\\gone", 4u},
                                                                      {"c:\\data\\moved", 5u}, {"c:\\data\\moved", 5u},
                                                                      {"c:\\data\\new", 3u}, {"c:\\data\\new", 3u}}));
  EXPECT_EQ(counter(Counter::malformed), 0u);
}

TEST_F(DecoderTest, a_close_hands_the_object_name_to_its_file_key_and_ends_the_object_binding) {
  decode(12, 1, create_event(8, 1, irp, object, u"c:\\data\\a"), 10);
  decode(14, 1, close_event(8, 1, object, key), 12);
  EXPECT_EQ(engine.bindings.object_bindings.find(object)->end, 12);
  const Binding* named = engine.bindings.key_bindings.find(key);
  ASSERT_NE(named, nullptr);
  EXPECT_EQ(named->start, 10);
  decode(15, 0, io_event(8, 0, 0x999, key), 13);
  EXPECT_EQ(activities().size(), 1u);
}

TEST_F(DecoderTest, a_read_before_its_name_becomes_newer_binding_at_stop) {
  decode(12, 1, create_event(8, 1, irp, object, u"c:\\data\\a"), 10);
  decode(15, 1, io_event(8, 1, object, 0), 9);
  EXPECT_EQ(counter(Counter::pending_names), 1u);
  finish_pending_at_stop(engine.bindings, engine.counters, engine.recorder);
  EXPECT_EQ(sample_reasons(), std::vector<std::string>{"newer_binding"});
  EXPECT_EQ(counter(Counter::unattributed), 1u);
  EXPECT_EQ(counter(Counter::pending_names), 0u);
}

TEST_F(DecoderTest, an_unbound_read_becomes_name_not_seen_at_stop) {
  decode(15, 1, io_event(8, 1, object, key), 9);
  EXPECT_EQ(counter(Counter::initial_missing), 1u);
  finish_pending_at_stop(engine.bindings, engine.counters, engine.recorder);
  EXPECT_EQ(sample_reasons(), std::vector<std::string>{"name_not_seen"});
  EXPECT_EQ(counter(Counter::name_not_seen), 1u);
}

TEST_F(DecoderTest, a_late_name_recovers_a_parked_read_in_the_forced_pass) {
  decode(15, 1, io_event(8, 1, object, key), 11);
  decode(10, 0, name_event(8, key, u"c:\\data\\late"), 10);
  recover_pending(engine.bindings, engine.counters, engine.recorder, true);
  EXPECT_EQ(counter(Counter::late_recovered), 1u);
  ASSERT_EQ(activities().size(), 1u);
  EXPECT_EQ(activities()[0].path, "c:\\data\\late");
}

TEST_F(DecoderTest, own_process_reads_and_writes_are_counted_and_skipped) {
  decode(10, 0, name_event(8, key, u"c:\\data\\a"), 10);
  decode(15, 1, io_event(8, 1, object, key), 11, 8, own_pid);
  decode(16, 1, io_event(8, 1, object, key), 11, 8, own_pid);
  decode(16, 1, {}, 11, 6, own_pid);  // skipped before any check
  EXPECT_EQ(counter(Counter::own_io), 3u);
  EXPECT_EQ(counter(Counter::own_reads), 1u);
  EXPECT_EQ(counter(Counter::own_writes), 2u);
  EXPECT_EQ(counter(Counter::io_total), 0u);
  EXPECT_EQ(counter(Counter::errors), 0u);
  EXPECT_EQ(counter(Counter::events), 4u);
  EXPECT_TRUE(activities().empty());
}

// ---- opens of watched missing paths -----------------------------------------

class MissingOpenTest : public DecoderTest {
 protected:
  MissingOpenTest() {
    add_missing(engine.missing_paths, u"C:\\Data\\Later.txt");
    engine.missing_paths.track_missing_opens = true;
  }
};

TEST_F(MissingOpenTest, an_open_that_fails_as_not_found_yields_kind_six_with_the_creates_process) {
  decode(12, 1, create_event(8, 1, irp, object, u"c:\\data\\later.txt"), 10, 8, 55);
  decode(24, 0, operation_end_event(8, irp, 0xC0000034), 10.5, 8, 66);
  const auto got = activities();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].kind, 6u);
  EXPECT_EQ(got[0].pid, 55u);
  EXPECT_EQ(got[0].first, 10.5);
  EXPECT_TRUE(engine.pending_opens.by_irp.empty());
}

TEST_F(MissingOpenTest, success_or_a_stale_entry_removes_the_open_without_activity) {
  decode(12, 1, create_event(8, 1, irp, object, u"c:\\data\\later.txt"), 10);
  decode(24, 0, operation_end_event(8, irp, 0), 10.5);
  decode(12, 0, create_event(8, 0, irp + 1, object, u"c:\\data\\later.txt"), 10);
  advance_ms(pending_open_life_ms);
  decode(24, 0, operation_end_event(8, irp + 1, 0xC000003A), 10.5);
  EXPECT_TRUE(activities().empty());
  EXPECT_TRUE(engine.pending_opens.by_irp.empty());
}

TEST_F(MissingOpenTest, without_tracking_the_create_is_not_remembered_and_the_end_is_dropped) {
  engine.missing_paths.track_missing_opens = false;
  decode(12, 1, create_event(8, 1, irp, object, u"c:\\data\\later.txt"), 10);
  decode(24, 0, operation_end_event(8, irp, 0xC0000034), 10.5);
  EXPECT_TRUE(activities().empty());
  EXPECT_EQ(counter(Counter::events), 2u);
  EXPECT_EQ(counter(Counter::errors), 0u);
}

TEST_F(MissingOpenTest, paths_outside_the_missing_set_are_not_remembered) {
  decode(12, 1, create_event(8, 1, irp, object, u"c:\\data\\other.txt"), 10);
  EXPECT_TRUE(engine.pending_opens.by_irp.empty());
}

TEST_F(MissingOpenTest, a_full_set_of_pending_opens_is_emptied_only_for_a_new_irp) {
  for (std::uint64_t i = 1; i <= pending_open_cap; ++i) {
    decode(12, 1, create_event(8, 1, i, object, u"c:\\data\\later.txt"), 10);
  }
  decode(12, 1, create_event(8, 1, 5, object, u"c:\\data\\later.txt"), 10);  // same IRP again
  EXPECT_EQ(engine.pending_opens.by_irp.size(), pending_open_cap);
  EXPECT_EQ(counter(Counter::errors), 0u);
  decode(12, 1, create_event(8, 1, pending_open_cap + 1, object, u"c:\\data\\later.txt"), 10);
  EXPECT_EQ(engine.pending_opens.by_irp.size(), 1u);
  EXPECT_EQ(counter(Counter::errors), 1u);
}

// ---- the names budget against the bindings ------------------------------------

class NameBudgetTest : public DecoderTest {
 protected:
  // Runs ignored events up to the next multiple of the maintenance interval.
  void reach_maintenance() {
    do decode(13, 0, {}, 10);
    while (counter(Counter::events) % 4096 != 0);
  }

  static std::u16string long_path(const std::string& label) {
    std::u16string path = u"c:\\data\\" + std::u16string(label.begin(), label.end());
    path.resize(30000, u'x');
    return path;
  }

  // Opens files with 30000-unit paths, never closed, until the budget refuses
  // one: a few hundred bindings, far below the binding cap.
  std::uint64_t open_until_refused() {
    std::uint64_t opened = 0;
    while (counter(Counter::dropped) == 0) {
      ++opened;
      decode(12, 1, create_event(8, 1, irp, object + opened, long_path(std::to_string(opened))), 10);
    }
    return opened;
  }
};

TEST_F(NameBudgetTest, bindings_that_never_end_give_up_their_names_once_the_budget_refuses_new_ones) {
  const std::uint64_t opened = open_until_refused();
  EXPECT_EQ(engine.bindings.object_bindings.size(), opened - 1);
  decode(12, 1, create_event(8, 1, irp, 7, long_path("fresh")), 11);
  EXPECT_EQ(engine.bindings.object_bindings.find(7), nullptr);  // refused as well

  reach_maintenance();
  EXPECT_GT(counter(Counter::mapping_evictions), 0u);
  EXPECT_NE(engine.bindings.object_bindings.find(object + opened - 1), nullptr);  // the newest stay
  decode(12, 1, create_event(8, 1, irp, 7, long_path("fresh")), 12);
  decode(15, 1, io_event(8, 1, 7, key), 13);
  const auto got = activities();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].path.substr(0, 13), "c:\\data\\fresh");
  EXPECT_LE(engine.names.budget->bytes.load(), NameTable::budget_limit);
}

TEST_F(NameBudgetTest, without_a_refused_name_maintenance_gives_up_no_binding) {
  decode(12, 1, create_event(8, 1, irp, 7, u"c:\\data\\kept.txt"), 10);
  decode(10, 0, name_event(8, key, u"c:\\data\\named.txt"), 10);
  reach_maintenance();
  reach_maintenance();
  EXPECT_EQ(counter(Counter::mapping_evictions), 0u);
  EXPECT_EQ(engine.bindings.object_bindings.size(), 1u);
  EXPECT_EQ(engine.bindings.key_bindings.size(), 1u);
}

// ---- bad input ------------------------------------------------------------------

TEST_F(DecoderTest, a_pointer_size_other_than_four_or_eight_is_malformed) {
  decode(15, 1, io_event(8, 1, object, key), 10, 6);
  EXPECT_EQ(counter(Counter::errors), 1u);
  EXPECT_EQ(counter(Counter::malformed), 1u);
}

TEST_F(DecoderTest, unknown_versions_count_unsupported_not_malformed) {
  decode(11, 1, name_event(8, key, u"c:\\data\\a"), 10);
  decode(24, 1, operation_end_event(8, irp, 0), 10);  // no open pending: dropped first
  decode(15, 2, io_event(8, 1, object, key), 10);
  EXPECT_EQ(counter(Counter::unsupported), 2u);
  EXPECT_EQ(counter(Counter::errors), 2u);
  EXPECT_EQ(counter(Counter::malformed), 0u);
  EXPECT_EQ(counter(Counter::manifest_names), 0u);
}

TEST_F(DecoderTest, ids_without_meaning_count_only_as_events) {
  for (std::uint16_t id : {9, 13, 17, 23, 25, 28, 29, 31, 0xFFFF}) decode(id, 0, {}, 10);
  EXPECT_EQ(counter(Counter::events), 9u);
  EXPECT_EQ(counter(Counter::errors), 0u);
}

TEST_F(DecoderTest, a_read_needs_exactly_forty_eight_bytes_in_both_versions) {
  for (std::uint8_t version : {0, 1}) {
    Bytes payload = io_event(8, version, object, key);
    ASSERT_EQ(payload.size(), 48u);
    payload.pop_back();
    decode(15, version, payload, 10);
  }
  EXPECT_EQ(counter(Counter::malformed), 2u);
  EXPECT_EQ(counter(Counter::io_total), 0u);
  decode(15, 0, io_event(4, 0, object, key), 10, 4);
  decode(15, 1, io_event(4, 1, object, key), 10, 4);
  EXPECT_EQ(counter(Counter::io_total), 2u);
  EXPECT_EQ(counter(Counter::malformed), 2u);
}

TEST_F(DecoderTest, every_layout_rejects_a_payload_cut_anywhere) {
  struct Case {
    std::uint16_t id;
    std::uint8_t version;
    Bytes payload;
  };
  std::vector<Case> cases;
  for (std::uint32_t p : {4u, 8u}) {
    cases.push_back({10, 0, name_event(p, key, u"c:\\data\\x")});
    cases.push_back({14, 0, close_event(p, 0, object, key)});
    cases.push_back({14, 1, close_event(p, 1, object, key)});
    cases.push_back({12, 0, create_event(p, 0, irp, object, u"c:\\data\\x")});
    cases.push_back({30, 1, create_event(p, 1, irp, object, u"c:\\data\\x")});
    cases.push_back({26, 0, path_event(p, 0, u"c:\\data\\x")});
    cases.push_back({27, 1, path_event(p, 1, u"c:\\data\\x")});
    for (const Case& c : std::vector<Case>(cases.end() - 7, cases.end())) {
      // Cutting at an odd length leaves the string odd; at an even length
      // it loses its terminator or an earlier field.
      for (std::size_t cut = 0; cut < c.payload.size(); ++cut) {
        const Bytes shorter(c.payload.begin(), c.payload.begin() + cut);
        const std::uint64_t before = counter(Counter::malformed);
        decode(c.id, c.version, shorter, 10, p);
        ASSERT_EQ(counter(Counter::malformed), before + 1) << c.id << " v" << int(c.version) << " cut " << cut;
      }
      decode(c.id, c.version, c.payload, 10, p);
    }
  }
  EXPECT_EQ(counter(Counter::errors), counter(Counter::malformed));
}

TEST_F(DecoderTest, a_string_at_an_odd_remaining_length_fails_even_with_a_terminator) {
  Bytes payload = name_event(8, key, u"c:\\data\\a");
  payload.push_back(0);
  decode(10, 0, payload, 10);
  EXPECT_EQ(counter(Counter::malformed), 1u);
  EXPECT_EQ(engine.bindings.key_bindings.find(key), nullptr);
}

TEST_F(DecoderTest, an_unterminated_name_still_counts_as_a_name_event) {
  decode(10, 0, PayloadBuilder(8).pointer(key).units(u"c:\\data\\a").bytes(), 10);
  EXPECT_EQ(counter(Counter::manifest_names), 1u);
  EXPECT_EQ(counter(Counter::errors), 1u);
  EXPECT_EQ(counter(Counter::malformed), 1u);
}

TEST(PayloadCursorTest, a_string_ends_at_its_first_zero_unit_at_any_length_and_offset) {
  // Terminators at every place of an eight-unit block, after a field that
  // leaves the string at an even or odd address, with more bytes after it.
  for (std::size_t lead : {0u, 1u, 2u, 8u}) {
    for (std::size_t units = 0; units < 40; ++units) {
      std::u16string text(units, u'x');
      for (std::size_t i = 0; i < units; ++i) text[i] = static_cast<char16_t>(u'a' + i % 26 + 256 * (i % 3));
      Bytes payload(lead, 0x7F);
      const Bytes strings = PayloadBuilder(8).text(text).text(u"after").bytes();
      payload.insert(payload.end(), strings.begin(), strings.end());
      PayloadCursor cursor(payload.data(), payload.size(), 8);
      for (std::size_t i = 0; i < lead; ++i) cursor.take(1);
      ASSERT_EQ(cursor.string(), text) << units << " units after " << lead;
      EXPECT_EQ(cursor.string(), u"after");
    }
  }
}

TEST_F(DecoderTest, negative_or_non_finite_timestamps_count_errors_only) {
  decode(15, 1, io_event(8, 1, object, key), -1.0);
  decode(15, 1, io_event(8, 1, object, key), std::nan(""));
  decode(15, 1, io_event(8, 1, object, key), INFINITY);
  EXPECT_EQ(counter(Counter::errors), 3u);
  EXPECT_EQ(counter(Counter::malformed), 0u);
  EXPECT_EQ(counter(Counter::io_total), 0u);
}

TEST_F(DecoderTest, an_empty_payload_without_bytes_is_short) {
  decode_event(engine.decoding, 15, 1, 8, pid, 10, nullptr, 0);
  EXPECT_EQ(counter(Counter::malformed), 1u);
}

TEST_F(DecoderTest, four_byte_pointers_are_zero_extended) {
  decode(10, 0, name_event(4, 0x12345678, u"c:\\data\\a"), 10, 4);
  EXPECT_NE(engine.bindings.key_bindings.find(0x0000000012345678ULL), nullptr);
}

TEST_F(DecoderTest, huge_timestamps_park_without_overflow) {
  decode(15, 1, io_event(8, 1, object, key), 1e300);
  EXPECT_EQ(counter(Counter::pending_names), 1u);
}

}  // namespace
}  // namespace mirrow::test
