#pragma once
// The sequence fuzzer's input, read as a script of host and kernel steps.
//
// Every step is four bytes: an operation byte and three argument bytes (a
// step cut short by the end of the input reads zeros). The low five bits of
// the operation byte choose the operation; for kernel events the high three
// choose how far the event time moves from the previous event's. The
// arguments pick from small sets of file objects, file keys, IRPs,
// processes and paths, so that a few hundred events bind, rebind, close,
// evict and collide on the same identities and names again and again.
//
// Argument bytes of an event (a, b, c):
//   a: bits 0-2 file object, bits 3-5 file key (6: a new one, 7: the newest
//      new one), bit 6 version 1, bit 7 NaN for a bad time (13 or 31 for
//      an ignored event); an operation end takes bits 0-1 for its IRP
//   b: bits 0-4 path, bits 5-6 process, bit 7 "plain decoder" (stopped: the
//      decoder without vt_replay's recovery pass; running: vt_replay is
//      tried first and must be refused)
//   c: bits 0-1 IRP (a create: bits 0-3), bits 2-4 status or classic
//      opcode, bits 5-7 damage:
//      0-3 none, 4 repeated three times (vt_replay_many, stopped only),
//      5 one byte short, 6 a version the decoder refuses, 7 a bad time
// The other operations read only what their comment in sequence_script.cpp
// says. fuzz/corpus/make_sequence_seeds.py writes inputs in this format.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/event_payloads.h"

namespace mirrow::fuzz {

inline constexpr std::uint32_t own_pid = 4242;
inline constexpr std::int64_t filetime_of_1970 = 116444736000000000LL;
// 1.5e9 Unix seconds (2017): far enough in the past that every ended binding
// is older than the engine's prune horizon, which reads the wall clock.
inline constexpr std::int64_t first_event_filetime = filetime_of_1970 + 15000000000000000LL;
inline constexpr std::uint64_t first_tick_ms = 1000000;

// Kernel file event ids the script sends.
namespace event_id {
inline constexpr std::uint16_t name_create = 10;
inline constexpr std::uint16_t name_delete = 11;
inline constexpr std::uint16_t create = 12;
inline constexpr std::uint16_t ignored = 13;
inline constexpr std::uint16_t close = 14;
inline constexpr std::uint16_t read = 15;
inline constexpr std::uint16_t write = 16;
inline constexpr std::uint16_t operation_end = 24;
inline constexpr std::uint16_t delete_path = 26;
inline constexpr std::uint16_t rename_path = 27;
inline constexpr std::uint16_t create_new_file = 30;
inline constexpr std::uint16_t beyond_the_provider = 31;
}  // namespace event_id

enum class Op {
  kernel_event,       // one kernel-file event: deliver while running, vt_replay (or the decoder) while stopped
  classic_name,       // a classic file-I/O name event, delivered
  drain,              // one vt_drain batch
  drain_until_empty,  // vt_drain until a batch comes back empty
  advance_clock,      // the scripted millisecond clock moves on
  skip_events,        // ignored events up to the next prune or recovery pass by the event count
  expire_due,         // what vt_stats runs first
  test_recovery,      // vt_test_recovery
  start_or_stop,      // vt_stop when running, else vt_start
  add_root,
  add_exclusion,
  missing,            // vt_missing or vt_missing_clear
  probe,
  test_emit,          // vt_test_emit
};

enum class Damage {
  none,
  truncated,    // the payload one byte short
  short_payload,  // classic: fewer bytes than a pointer
  bad_version,  // version 2, or 1 where only 0 is taken
  bad_time,     // vt_replay: -1 or NaN; delivered: a file time before 1970
};

struct Step {
  Op op = Op::drain;
  // Kernel and classic events.
  std::uint16_t id = 0;
  std::uint8_t version = 0;
  std::uint8_t opcode = 0;  // classic
  std::uint32_t pid = 0;
  std::int64_t filetime = 0;  // the event's time
  std::uint64_t file_object = 0;
  std::uint64_t file_key = 0;
  std::uint64_t irp = 0;
  std::uint32_t status = 0;
  std::u16string path;  // raw, as an event carries it
  Damage damage = Damage::none;
  bool plain_decoder = false;
  std::uint32_t repeat = 1;
  bool not_a_number = false;  // a bad time handed to vt_replay is NaN rather than -1
  // Other operations.
  std::uint64_t amount = 0;   // clock milliseconds, or the multiple to skip to
  std::size_t choice = 0;     // index into the configuration choices below
  bool flag = false;          // start: track missing opens; root: the flag; recovery: on
  std::int32_t emit_kind = 0;
};

// What the configuration operations choose from.
struct RootChoice {
  std::int64_t id;
  const char16_t* path;
};
extern const RootChoice root_choices[8];
extern const char16_t* const exclusion_choices[8];
extern const char16_t* const missing_choices[6];  // the other two choices clear the set
extern const char16_t* const probe_choices[3];    // the last one clears the probe

// The configuration every run starts from.
inline constexpr const char16_t* first_root = u"C:\\Data";
inline constexpr const char16_t* first_missing = u"C:\\Data\\Missing.txt";
inline constexpr const char16_t* first_probe = u"C:\\Data\\Probe.txt";
inline constexpr const char16_t* mapped_device = u"\\device\\harddiskvolume1";
inline constexpr const char16_t* mapped_drive = u"c:";

std::vector<Step> read_script(const std::uint8_t* data, std::size_t size);

// The payload of a kernel or classic event step, damage included.
test::Bytes payload_of(const Step& step);

}  // namespace mirrow::fuzz
