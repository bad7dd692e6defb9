// Replayed kernel file events through the exports, bound by name as a host
// binds them: from the payload bytes to the drain text, the statistics and
// the unknown samples of the diagnostics.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "support/event_payloads.h"
#include "support/vantrel_api.h"

namespace mirrow::testing {
namespace {

using mirrow::test::Bytes;
using mirrow::test::PayloadBuilder;
namespace payload = mirrow::test;

constexpr uint32_t pid = 700;
constexpr double t0 = 1764979200.0;
constexpr uint64_t file_key = 0xFFFFA000;
constexpr uint64_t file_object = 0xFFFFB000;
constexpr uint64_t irp = 0xFFFFC000;

class ReplayExports : public ::testing::Test {
 protected:
  ReplayExports() : engine_(vantrel().vt_create()) { vantrel().vt_root(engine_, 3, L"C:\\Data", 0); }
  ~ReplayExports() override { vantrel().vt_destroy(engine_); }

  uint32_t replay(uint16_t id, uint8_t version, const Bytes& bytes, double t, uint32_t pointer_size = 8,
                  uint32_t process_id = pid) {
    return vantrel().vt_replay(engine_, id, version, pointer_size, process_id, t, bytes.data(), bytes.size());
  }

  std::string drain() {
    uint64_t length = 0;
    const char* text = vantrel().vt_drain(engine_, &length);
    return text ? std::string(text, length) : "<null>";
  }

  std::string diagnostics() {
    uint64_t length = 0;
    const char* text = vantrel().vt_diagnostics(engine_, &length);
    return text ? std::string(text, length) : "<null>";
  }

  // The unsigned value of one diagnostics member.
  uint64_t diagnostic(const std::string& key) {
    const std::string text = diagnostics();
    const std::string member = "\"" + key + "\":";
    const auto at = text.find(member);
    if (at == std::string::npos) return ~0ULL;
    return std::stoull(text.substr(at + member.size()));
  }

  std::array<uint64_t, 13> stats() {
    std::array<uint64_t, 13> out{};
    EXPECT_EQ(vantrel().vt_stats(engine_, out.data(), out.size()), 0u);
    return out;
  }

  vt_engine* engine_;
};

// What one drained record says about path, kind and process.
std::string record(const std::string& path, int kind, uint32_t process_id) {
  return "\"" + path + "\"," + std::to_string(kind) + "," + std::to_string(process_id) + ",\"\",";
}

TEST_F(ReplayExports, a_read_after_name_create_is_attributed_and_binds_its_file_object) {
  EXPECT_EQ(replay(10, 0, payload::name_event(8, file_key, u"C:\\Data\\Report.txt"), t0), 0u);
  EXPECT_EQ(replay(15, 1, payload::io_event(8, 1, file_object, file_key), t0 + 1), 0u);
  EXPECT_NE(drain().find(record("c:\\\\data\\\\report.txt", 1, pid)), std::string::npos);
  const auto s = stats();
  EXPECT_EQ(s[0], 2u);  // events
  EXPECT_EQ(s[1], 0u);  // errors
  EXPECT_EQ(s[3], 1u);  // key_derived_bindings
  EXPECT_EQ(diagnostic("io_total"), 1u);
  EXPECT_EQ(diagnostic("manifest_names"), 1u);
}

TEST_F(ReplayExports, a_write_to_a_created_object_and_paths_deleted_or_renamed_are_drained) {
  replay(12, 1, payload::create_event(8, 1, irp, file_object, u"c:\\data\\a.txt"), t0);
  replay(16, 0, payload::io_event(8, 0, file_object, file_key), t0 + 1);
  replay(26, 1, payload::path_event(8, 1, u"c:\\data\\old.txt"), t0 + 2);
  replay(27, 0, payload::path_event(4, 0, u"c:\\data\\moved.txt"), t0 + 3, 4);
  const std::string text = drain();
  EXPECT_NE(text.find(record("c:\\\\data\\\\a.txt", 2, pid)), std::string::npos) << text;
  EXPECT_NE(text.find(record("c:\\\\data\\\\old.txt", 4, pid)), std::string::npos) << text;
  EXPECT_NE(text.find(record("c:\\\\data\\\\moved.txt", 5, pid)), std::string::npos) << text;
  EXPECT_EQ(stats()[1], 0u);
}

TEST_F(ReplayExports, a_failed_open_of_a_missing_path_is_reported_only_while_tracked) {
  vantrel().vt_missing(engine_, L"C:\\Data\\Later.txt");
  ASSERT_EQ(vantrel().vt_test_recovery(engine_, 0), 0u);
  replay(12, 1, payload::create_event(8, 1, irp, file_object, u"c:\\data\\later.txt"), t0, 8, 55);
  replay(24, 0, payload::operation_end_event(8, irp, 0xC0000034), t0 + 0.5);
  EXPECT_EQ(drain(), "[]");

  ASSERT_EQ(vantrel().vt_test_recovery(engine_, 1), 0u);
  replay(12, 1, payload::create_event(8, 1, irp, file_object, u"c:\\data\\later.txt"), t0, 8, 55);
  replay(24, 0, payload::operation_end_event(8, irp, 0xC0000034), t0 + 0.5);
  EXPECT_NE(drain().find(record("c:\\\\data\\\\later.txt", 6, 55)), std::string::npos);
}

TEST_F(ReplayExports, a_read_before_its_name_becomes_newer_binding_at_stop) {
  replay(12, 1, payload::create_event(8, 1, irp, file_object, u"c:\\data\\a.txt"), t0 + 10);
  replay(15, 1, payload::io_event(8, 1, file_object, 0), t0 + 9);
  EXPECT_EQ(diagnostic("pending_names"), 1u);
  vantrel().vt_stop(engine_);
  EXPECT_EQ(diagnostic("newer_binding"), 1u);
  EXPECT_EQ(stats()[2], 1u);  // unattributed
  EXPECT_NE(diagnostics().find("\"reason\":\"newer_binding\""), std::string::npos);
  EXPECT_EQ(drain(), "[]");
}

TEST_F(ReplayExports, an_unbound_read_becomes_name_not_seen_at_stop) {
  replay(15, 1, payload::io_event(8, 1, file_object, file_key), t0);
  EXPECT_EQ(diagnostic("initial_missing"), 1u);
  vantrel().vt_stop(engine_);
  EXPECT_EQ(diagnostic("name_not_seen"), 1u);
  EXPECT_NE(diagnostics().find("\"has_object\":true,\"has_key\":true,\"reason\":\"name_not_seen\""),
            std::string::npos)
      << diagnostics();
}

TEST_F(ReplayExports, the_librarys_own_reads_and_writes_are_counted_and_skipped) {
  replay(10, 0, payload::name_event(8, file_key, u"c:\\data\\a.txt"), t0);
  const uint32_t self = GetCurrentProcessId();
  replay(15, 1, payload::io_event(8, 1, file_object, file_key), t0 + 1, 8, self);
  replay(16, 1, payload::io_event(8, 1, file_object, file_key), t0 + 1, 8, self);
  EXPECT_EQ(stats()[4], 2u);  // own_io
  EXPECT_EQ(diagnostic("own_reads"), 1u);
  EXPECT_EQ(diagnostic("own_writes"), 1u);
  EXPECT_EQ(diagnostic("io_total"), 0u);
  EXPECT_EQ(drain(), "[]");
}

TEST_F(ReplayExports, bad_payloads_are_counted_and_never_fail_the_export) {
  Bytes odd = payload::name_event(8, file_key, u"c:\\data\\a.txt");
  odd.push_back(0);
  Bytes short_read = payload::io_event(8, 0, file_object, file_key);
  short_read.pop_back();
  EXPECT_EQ(replay(10, 0, odd, t0), 0u);                                                          // odd string
  EXPECT_EQ(replay(10, 0, PayloadBuilder(8).pointer(1).units(u"c:\\x").bytes(), t0), 0u);          // unterminated
  EXPECT_EQ(replay(15, 0, short_read, t0), 0u);                                                   // short payload
  EXPECT_EQ(replay(15, 1, payload::io_event(8, 1, file_object, file_key), t0, 6), 0u);            // pointer size
  EXPECT_EQ(vantrel().vt_replay(engine_, 15, 1, 8, pid, t0, nullptr, 0), 0u);                     // empty
  EXPECT_EQ(diagnostic("malformed"), 5u);
  EXPECT_EQ(replay(11, 1, payload::name_event(8, file_key, u"c:\\data\\a.txt"), t0), 0u);         // unsupported
  EXPECT_EQ(replay(15, 1, payload::io_event(8, 1, file_object, file_key), -1.0), 0u);             // negative time
  EXPECT_EQ(diagnostic("unsupported"), 1u);
  EXPECT_EQ(diagnostic("malformed"), 5u);
  EXPECT_EQ(stats()[1], 7u);  // errors
  EXPECT_EQ(diagnostic("manifest_names"), 2u);
}

TEST_F(ReplayExports, replay_arguments_are_checked_before_anything_is_counted) {
  const uint8_t byte = 0;
  EXPECT_EQ(vantrel().vt_replay(engine_, 15, 1, 8, pid, t0, nullptr, 1), 87u);
  EXPECT_EQ(vantrel().vt_replay_many(engine_, 15, 1, 8, pid, t0, nullptr, 1, 1), 87u);
  EXPECT_EQ(vantrel().vt_replay_many(engine_, 13, 0, 8, pid, t0, &byte, 1, 10000001), 87u);
  EXPECT_EQ(vantrel().vt_replay_many(engine_, 13, 0, 8, pid, t0, &byte, 1, 0), 0u);
  EXPECT_EQ(stats()[0], 0u);
  EXPECT_EQ(vantrel().vt_replay_many(engine_, 13, 0, 8, pid, t0, &byte, 1, 10000000), 0u);
  EXPECT_EQ(stats()[0], 10000000u);
}

TEST_F(ReplayExports, many_replays_of_a_bound_read_fold_into_one_record) {
  replay(10, 0, payload::name_event(8, file_key, u"c:\\data\\a.txt"), t0);
  const Bytes read = payload::io_event(8, 1, file_object, file_key);
  EXPECT_EQ(vantrel().vt_replay_many(engine_, 15, 1, 8, pid, t0 + 1, read.data(), read.size(), 1000), 0u);
  EXPECT_NE(drain().find(record("c:\\\\data\\\\a.txt", 1, pid) + "1000,"), std::string::npos);
}

}  // namespace
}  // namespace mirrow::testing
