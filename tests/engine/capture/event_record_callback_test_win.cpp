// The record callback that ProcessTrace calls, fed platform event records:
// the header's pointer-size flag, provider, event id, version, opcode,
// process id, time stamp and user data must reach the engine as the
// decoder's view of the event.
#include <gtest/gtest.h>

#include <memory>

#include "engine/api/engine_win.h"
#include "engine/capture/trace_session_win.h"
#include "support/event_payloads.h"
#include "support/event_record_win.h"

namespace mirrow {
namespace {

using test::Bytes;
using testing::RecordFields;

constexpr std::int64_t filetime_of_unix_10 = 116444736000000000LL + 10 * 10000000LL;
constexpr std::uint32_t other_pid = 4242;

struct EngineDeleter {
  void operator()(Engine* e) const { destroy_engine(e); }
};

class EventRecordCallbackTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(engine, nullptr); }

  RecordFields kernel_file(std::uint16_t id, std::uint8_t version, const Bytes& payload, bool header_32bit = false) {
    RecordFields fields;
    fields.provider = testing::kernel_file_guid;
    fields.id = id;
    fields.version = version;
    fields.header_32bit = header_32bit;
    fields.process_id = other_pid;
    fields.timestamp = filetime_of_unix_10;
    fields.user_data = payload.data();
    fields.user_data_length = payload.size();
    fields.context = &engine->decoding;
    return fields;
  }

  RecordFields classic(std::uint8_t opcode, const Bytes& payload, bool header_32bit = false) {
    RecordFields fields = kernel_file(0, 2, payload, header_32bit);
    fields.provider = testing::classic_file_io_guid;
    fields.opcode = opcode;
    return fields;
  }

  void deliver(const RecordFields& fields) {
    EVENT_RECORD record = testing::event_record(fields);
    receive_event_record(&record);
  }

  std::uint64_t count(Counter c) const { return engine->counters.get(c); }
  const Binding* key_binding(std::uint64_t key) const { return engine->bindings.key_bindings.find(key); }

  std::unique_ptr<Engine, EngineDeleter> engine{create_engine()};
};

TEST_F(EventRecordCallbackTest, a_name_create_with_a_64_bit_header_binds_its_key_at_the_record_time) {
  const Bytes payload = test::name_event(8, 0x1122334455667788ULL, u"C:\\Data\\eight.txt");
  deliver(kernel_file(10, 0, payload));
  const Binding* binding = key_binding(0x1122334455667788ULL);
  ASSERT_NE(binding, nullptr);
  EXPECT_EQ(binding->name->path, u"c:\\data\\eight.txt");
  EXPECT_EQ(binding->start, 10.0);
  EXPECT_EQ(count(Counter::events), 1u);
  EXPECT_EQ(count(Counter::manifest_names), 1u);
  EXPECT_EQ(count(Counter::malformed), 0u);
}

TEST_F(EventRecordCallbackTest, the_32_bit_header_flag_makes_pointers_four_bytes) {
  const Bytes payload = test::name_event(4, 0x12345678, u"C:\\Data\\four.txt");
  // Without the flag the key is read 8 bytes wide, taking in the name's first two units.
  deliver(kernel_file(10, 0, payload, false));
  EXPECT_EQ(key_binding(0x12345678), nullptr);
  EXPECT_NE(key_binding(0x003A004312345678ULL), nullptr);
  deliver(kernel_file(10, 0, payload, true));
  const Binding* binding = key_binding(0x12345678);
  ASSERT_NE(binding, nullptr);
  EXPECT_EQ(binding->name->path, u"c:\\data\\four.txt");
}

TEST_F(EventRecordCallbackTest, the_header_process_id_decides_whether_a_read_is_the_library_own) {
  const Bytes read = test::io_event(8, 1, 0x9000, 0x9100);
  RecordFields own = kernel_file(15, 1, read);
  own.process_id = engine->own_pid;
  deliver(own);
  EXPECT_EQ(count(Counter::own_reads), 1u);
  EXPECT_EQ(count(Counter::io_total), 0u);
  deliver(kernel_file(16, 1, read));
  EXPECT_EQ(count(Counter::own_writes), 0u);
  EXPECT_EQ(count(Counter::io_total), 1u);
}

TEST_F(EventRecordCallbackTest, classic_name_events_bind_with_either_pointer_size_and_other_opcodes_are_ignored) {
  deliver(classic(0, test::name_event(8, 0xAABBCCDD00112233ULL, u"C:\\Data\\classic8.txt")));
  deliver(classic(36, test::name_event(4, 0x0BADF00D, u"C:\\Data\\classic4.txt"), true));
  deliver(classic(64, test::name_event(8, 0x77, u"C:\\Data\\ignored.txt")));
  ASSERT_NE(key_binding(0xAABBCCDD00112233ULL), nullptr);
  ASSERT_NE(key_binding(0x0BADF00D), nullptr);
  EXPECT_EQ(key_binding(0x0BADF00D)->name->path, u"c:\\data\\classic4.txt");
  EXPECT_EQ(key_binding(0x77), nullptr);
  EXPECT_EQ(count(Counter::classic_names), 2u);
  EXPECT_EQ(count(Counter::events), 0u);
}

TEST_F(EventRecordCallbackTest, a_record_of_another_provider_is_only_counted_as_a_helper_event) {
  RecordFields disk = kernel_file(10, 0, test::name_event(8, 5, u"C:\\x"));
  disk.provider = GUID{0x3D6FA8D4, 0xFE05, 0x11D0, {0x9D, 0xDA, 0x00, 0xC0, 0x4F, 0xD7, 0xBA, 0x7C}};
  deliver(disk);
  EXPECT_EQ(count(Counter::helper_events), 1u);
  EXPECT_EQ(count(Counter::events), 0u);
  EXPECT_EQ(key_binding(5), nullptr);
}

TEST_F(EventRecordCallbackTest, extended_data_items_beside_the_user_data_change_nothing) {
  const Bytes payload = test::name_event(8, 0x44, u"C:\\Data\\extended.txt");
  EVENT_RECORD record = testing::event_record(kernel_file(10, 0, payload));
  GUID related_activity{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  EVENT_HEADER_EXTENDED_DATA_ITEM item{};
  item.ExtType = EVENT_HEADER_EXT_TYPE_RELATED_ACTIVITYID;
  item.DataSize = sizeof related_activity;
  item.DataPtr = reinterpret_cast<ULONGLONG>(&related_activity);
  record.EventHeader.Flags |= EVENT_HEADER_FLAG_EXTENDED_INFO;
  record.ExtendedDataCount = 1;
  record.ExtendedData = &item;
  receive_event_record(&record);
  ASSERT_NE(key_binding(0x44), nullptr);
  EXPECT_EQ(key_binding(0x44)->name->path, u"c:\\data\\extended.txt");
  EXPECT_EQ(count(Counter::malformed), 0u);
}

TEST_F(EventRecordCallbackTest, absent_or_empty_user_data_is_counted_as_malformed_never_read) {
  const Bytes empty;
  RecordFields absent = kernel_file(10, 0, empty);
  absent.user_data = nullptr;
  deliver(absent);
  const std::uint8_t byte = 0;
  RecordFields zero_length = kernel_file(10, 0, empty);
  zero_length.user_data = &byte;
  zero_length.user_data_length = 0;
  deliver(zero_length);
  RecordFields classic_absent = classic(0, empty);
  classic_absent.user_data = nullptr;
  deliver(classic_absent);
  EXPECT_EQ(count(Counter::malformed), 3u);
  EXPECT_EQ(count(Counter::errors), 3u);
  // An event id the decoder skips never looks at its user data.
  RecordFields skipped = kernel_file(13, 0, empty);
  skipped.user_data = nullptr;
  deliver(skipped);
  EXPECT_EQ(count(Counter::events), 3u);
  EXPECT_EQ(count(Counter::malformed), 3u);
}

TEST_F(EventRecordCallbackTest, a_record_without_context_or_a_null_record_is_ignored) {
  RecordFields orphan = kernel_file(10, 0, test::name_event(8, 0x55, u"C:\\Data\\orphan.txt"));
  orphan.context = nullptr;
  deliver(orphan);
  receive_event_record(nullptr);
  EXPECT_EQ(count(Counter::events), 0u);
  EXPECT_EQ(key_binding(0x55), nullptr);
}

}  // namespace
}  // namespace mirrow
