// Routing of trace records: kernel file events to the decoder, classic name
// events to the key bindings, everything else counted as helper events.
#include <gtest/gtest.h>

#include "decode_fixture.h"
#include "engine/capture/intake.h"

namespace mirrow::test {
namespace {

constexpr std::int64_t filetime_of_unix_10 = 116444736000000000LL + 10 * 10000000LL;

class IntakeTest : public DecodeTest {
 protected:
  EventView classic(std::uint8_t opcode, const Bytes& payload, bool header_32bit = false) {
    EventView e;
    e.provider = EventProvider::classic_file_io;
    e.opcode = opcode;
    e.header_32bit = header_32bit;
    e.timestamp = filetime_of_unix_10;
    e.user_data = payload.data();
    e.user_data_length = static_cast<std::uint16_t>(payload.size());
    return e;
  }
};

TEST(ProviderOf, recognises_the_two_file_providers_by_guid) {
  EXPECT_EQ(provider_of({0xEDD08927, 0x9CC4, 0x4E65, {0xB9, 0x70, 0xC2, 0x56, 0x0F, 0xB5, 0xC2, 0x89}}),
            EventProvider::kernel_file);
  EXPECT_EQ(provider_of({0x90CBDC39, 0x4A3E, 0x11D1, {0x84, 0xF4, 0x00, 0x00, 0xF8, 0x04, 0x64, 0xE3}}),
            EventProvider::classic_file_io);
  EXPECT_EQ(provider_of({0x90CBDC39, 0x4A3E, 0x11D1, {0x84, 0xF4, 0x00, 0x00, 0xF8, 0x04, 0x64, 0xE4}}),
            EventProvider::other);
}

TEST_F(IntakeTest, classic_name_rundown_and_create_opcodes_bind_the_file_key) {
  for (std::uint8_t opcode : {0, 32, 36}) {
    const Bytes payload = name_event(8, 100 + opcode, u"c:\\data\\a");
    route_event(engine.decoding, classic(opcode, payload));
    const Binding* b = engine.bindings.key_bindings.find(100 + opcode);
    ASSERT_NE(b, nullptr) << int(opcode);
    EXPECT_EQ(b->start, 10.0);
  }
  EXPECT_EQ(counter(Counter::classic_names), 3u);
  EXPECT_EQ(counter(Counter::events), 0u);
}

TEST_F(IntakeTest, classic_delete_closes_the_key_and_other_opcodes_are_ignored) {
  const Bytes payload = name_event(4, 5, u"c:\\data\\a");
  bind_name(engine.bindings, engine.counters, BindingMapId::keys, 5, intern_name(engine.names, engine.counters, u"c:\\data\\a"), 1);
  route_event(engine.decoding, classic(35, payload, true));
  EXPECT_EQ(engine.bindings.key_bindings.find(5)->end, 10.0);
  route_event(engine.decoding, classic(64, payload, true));
  EXPECT_EQ(counter(Counter::classic_names), 1u);
}

TEST_F(IntakeTest, classic_events_shorter_than_a_pointer_or_unterminated_are_malformed) {
  const Bytes four(4, 0);
  route_event(engine.decoding, classic(0, four));
  route_event(engine.decoding, classic(0, PayloadBuilder(8).pointer(5).units(u"c:").bytes()));
  EXPECT_EQ(counter(Counter::malformed), 2u);
  EXPECT_EQ(counter(Counter::errors), 2u);
  EXPECT_EQ(counter(Counter::classic_names), 0u);
}

TEST_F(IntakeTest, kernel_file_events_reach_the_decoder_with_pointer_size_and_time_from_the_header) {
  const Bytes name = name_event(4, 9, u"c:\\data\\a");
  EventView e;
  e.provider = EventProvider::kernel_file;
  e.event_id = 10;
  e.header_32bit = true;
  e.timestamp = filetime_of_unix_10 + 5000000;  // half a second later
  e.user_data = name.data();
  e.user_data_length = static_cast<std::uint16_t>(name.size());
  route_event(engine.decoding, e);
  ASSERT_NE(engine.bindings.key_bindings.find(9), nullptr);
  EXPECT_EQ(engine.bindings.key_bindings.find(9)->start, 10.5);
  EXPECT_EQ(counter(Counter::events), 1u);
  EXPECT_EQ(counter(Counter::manifest_names), 1u);
}

TEST_F(IntakeTest, events_of_other_providers_are_only_counted) {
  route_event(engine.decoding, EventView{});
  EXPECT_EQ(counter(Counter::helper_events), 1u);
  EXPECT_EQ(counter(Counter::events), 0u);
}

}  // namespace
}  // namespace mirrow::test
