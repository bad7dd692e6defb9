#include "fuzz/sequence_script.h"

#include <algorithm>
#include <string>

#include "engine/core/caps.h"

namespace mirrow::fuzz {

const RootChoice root_choices[8] = {
    {2, u"C:\\Data\\Sub"},     {3, u"C:\\Other"}, {4, u"\\\\Server\\Share"},           {5, u"C:\\Data"},
    {6, u"C:\\"},              {7, u"C:\\Data\\Sub\\Private"}, {8, u"C:\\DATA\\"}, {0, u"C:\\Refused"},
};

const char16_t* const exclusion_choices[8] = {
    u"C:\\Data\\Tmp",  u"C:\\Data\\Sub\\Private",   u"C:\\Other\\Skip",      u"C:\\Data\\Sub",
    u"\\\\Server\\Share\\Doc.txt", u"C:\\Data\\Tmp\\", u"c:\\data\\report.txt", u"C:\\Database",
};

const char16_t* const missing_choices[6] = {
    u"C:\\Data\\Missing.txt",
    u"C:\\Data\\Sub\\Gone.txt",
    // Never matched: the set holds it unmapped, while names are mapped.
    u"\\Device\\HarddiskVolume1\\Data\\Ghost.txt",
    u"C:\\Other\\Lib.h",
    u"\\\\Server\\Share\\Doc.txt",
    u"c:\\data\\report.txt",
};

const char16_t* const probe_choices[3] = {u"C:\\Data\\Probe.txt", u"C:\\Other\\Lib.h", nullptr};

namespace {

// Several spellings of one file, paths beside and below the roots the script
// may add, the forms the normalisation rewrites, and at the end paths new
// on every use, which fill the name table and the budget.
const char16_t* const fixed_paths[28] = {
    u"C:\\Data\\Report.txt",
    u"c:\\data\\report.txt",
    u"\\Device\\HarddiskVolume1\\Data\\Report.TXT",
    u"C:\\Data\\Notes.md",
    u"C:\\Data\\Sub\\Deep.cpp",
    u"\\Device\\HarddiskVolume1\\Data\\Sub\\Deep.cpp",
    u"C:\\Data\\Tmp\\Scratch.tmp",
    u"C:\\Other\\Lib.h",
    u"C:\\Data\\Missing.txt",
    u"C:\\Data\\Sub\\Gone.txt",
    u"C:\\Data\\Probe.txt",
    u"\\\\Server\\Share\\Doc.txt",
    u"\\\\?\\UNC\\Server\\Share\\Doc.txt",
    u"C:/Data/Slash.txt",
    u"C:\\Data\\Dir\\",
    u"C:\\Database\\x.txt",
    u"\\Device\\HarddiskVolume2\\Data\\Unmapped.txt",
    u"\\??\\C:\\Data\\Nt.txt",
    u"C:\\Data\\Sub\\Private\\Key.pem",
    u"C:\\Other\\Skip\\y.txt",
    u"C:\\",
    u"c:\\data",
    nullptr,  // the long path, made below
    u"nul",
    u"C:\\Data\\Sub\\Build.o",
    u"C:\\Data\\Tmpx\\Not-excluded.txt",
    u"",
    u"C:\\DATA\\REPORT.TXT",
};

const std::u16string& long_path() {
  static const std::u16string path = u"C:\\Data\\Long\\" + std::u16string(200, u'x') + u".txt";
  return path;
}

std::u16string decimal(std::uint64_t n) {
  const std::string text = std::to_string(n);
  return std::u16string(text.begin(), text.end());
}

// The last two choices of file objects and keys are identities new on
// every use and the newest of those again, so that the binding maps can
// fill; the others collide, also across the two kinds.
constexpr std::uint64_t file_objects[6] = {0, 0xB0, 0xB8, 0xC0, 0xA0, 0xFFFF800000000100ULL};
constexpr std::uint64_t file_keys[6] = {0, 0xA0, 0xA8, 0x1A0, 0xB0, 0xFFFFFFFFFFFFFFF0ULL};
constexpr std::uint64_t fresh_objects = 0xFFFF900000000000ULL;
constexpr std::uint64_t fresh_keys = 0x10000000000ULL;
constexpr std::uint32_t pids[4] = {700, 701, 702, own_pid};
constexpr std::uint32_t statuses[8] = {0,          0xC000000F, 0xC0000034, 0xC000003A,
                                       0xC0000022, 0x103,      0xC0000034, 0};
constexpr std::uint8_t opcodes[8] = {0, 32, 35, 36, 0, 32, 64, 1};
// Moves of the event time in 100-ns units: none, a tick, a quarter, one
// second, across a pending bucket, across a group window, and back.
constexpr std::int64_t time_moves[8] = {0, 1, 2500000, 10000000, 21000000, 60000000, -5000000, -40000000};
constexpr std::uint64_t clock_moves_ms[8] = {1, 50, 249, 251, 1999, 2001, 5001, 30001};

class ScriptReader {
 public:
  ScriptReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool done() const { return at_ >= size_; }
  std::uint8_t next() { return at_ < size_ ? data_[at_++] : 0; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

struct ScriptState {
  std::int64_t filetime = first_event_filetime;
  std::uint64_t fresh = 0;          // paths made new so far
  std::uint64_t fresh_object = 0;   // file objects made new so far
  std::uint64_t fresh_key = 0;      // file keys made new so far
};

std::uint64_t identity_at(const std::uint64_t (&fixed)[6], std::uint64_t base, std::uint64_t& made,
                          std::uint8_t index) {
  if (index < 6) return fixed[index];
  if (index == 6) ++made;
  return base + std::max<std::uint64_t>(made, 1) * 0x40;
}

// IRP 0 and fifteen others: more than the pending opens' cap.
std::uint64_t irp_at(std::uint8_t index) { return static_cast<std::uint64_t>(index & 15) << 4; }

std::u16string path_at(ScriptState& state, std::uint8_t index) {
  index &= 31;
  if (index < 28) return fixed_paths[index] != nullptr ? std::u16string(fixed_paths[index]) : long_path();
  const std::u16string n = decimal(++state.fresh);
  switch (index) {
    case 28:
    case 29:
      return u"C:\\Data\\New\\F" + n + u".txt";
    case 30:
      return u"C:\\Data\\Flood\\" + n + u"\\" + std::u16string(150, u'y');
    default:
      return u"C:\\Temp\\" + n + u".tmp";
  }
}

void move_time(ScriptState& state, std::uint8_t op_byte) {
  // Never further back than 1000 s before the first event.
  state.filetime = std::max<std::int64_t>(state.filetime + time_moves[op_byte >> 5], first_event_filetime - 10000000000LL);
}

Damage damage_of(std::uint8_t c) {
  switch (c >> 5) {
    case 5: return Damage::truncated;
    case 6: return Damage::bad_version;
    case 7: return Damage::bad_time;
    default: return Damage::none;
  }
}

Step event_step(ScriptState& state, std::uint16_t id, std::uint8_t op_byte, std::uint8_t a, std::uint8_t b,
                std::uint8_t c) {
  move_time(state, op_byte);
  Step s;
  s.op = Op::kernel_event;
  s.id = id;
  s.file_object = identity_at(file_objects, fresh_objects, state.fresh_object, a & 7);
  s.file_key = identity_at(file_keys, fresh_keys, state.fresh_key, (a >> 3) & 7);
  s.version = (a >> 6) & 1;
  s.path = path_at(state, b);
  s.pid = pids[(b >> 5) & 3];
  s.plain_decoder = (b & 0x80) != 0;
  // A create takes the status bits for its IRP, an operation end the file
  // object's bits: it has no file object.
  s.irp = id == event_id::operation_end ? irp_at((c & 3) | (a & 3) << 2) : irp_at((c & 3) | ((c >> 2) & 3) << 2);
  s.status = statuses[(c >> 2) & 7];
  s.filetime = state.filetime;
  s.damage = damage_of(c);
  s.not_a_number = (a & 0x80) != 0;
  if ((c >> 5) == 4) s.repeat = 3;
  // Name events and the operation end exist only in version 0.
  const bool only_zero = id == event_id::name_create || id == event_id::name_delete || id == event_id::operation_end;
  if (only_zero) s.version = s.damage == Damage::bad_version ? 1 : 0;
  else if (s.damage == Damage::bad_version) s.version = 2;
  return s;
}

Step classic_step(ScriptState& state, std::uint8_t op_byte, std::uint8_t a, std::uint8_t b, std::uint8_t c) {
  move_time(state, op_byte);
  Step s;
  s.op = Op::classic_name;
  s.file_key = identity_at(file_keys, fresh_keys, state.fresh_key, (a >> 3) & 7);
  s.path = path_at(state, b);
  s.pid = pids[(b >> 5) & 3];
  s.opcode = opcodes[(c >> 2) & 7];
  s.filetime = state.filetime;
  switch (c >> 5) {
    case 5: s.damage = Damage::truncated; break;
    case 6: s.damage = Damage::short_payload; break;
    case 7: s.damage = Damage::bad_time; break;  // a name before 1970 binds at a negative time
    default: break;
  }
  return s;
}

Step other_step(ScriptState& state, Op op, std::uint8_t op_byte, std::uint8_t a, std::uint8_t b) {
  Step s;
  s.op = op;
  switch (op) {
    case Op::advance_clock:
      s.amount = clock_moves_ms[a & 7];
      break;
    case Op::skip_events:
      s.amount = (a & 1) ? caps::prune_every_events : caps::recover_every_events;
      break;
    case Op::test_recovery:
    case Op::start_or_stop:
      s.flag = (a & 1) != 0;
      break;
    case Op::add_root:
      s.choice = a & 7;
      s.flag = (a & 8) != 0;
      break;
    case Op::add_exclusion:
      s.choice = a & 7;
      break;
    case Op::missing:
      s.choice = a & 7;  // 6 and 7 clear the set
      break;
    case Op::probe:
      s.choice = a % 3;
      break;
    case Op::test_emit:
      move_time(state, op_byte);
      s.emit_kind = a % 12;  // 0 and 11 are refused
      s.path = path_at(state, b);
      s.pid = pids[(b >> 5) & 3];
      s.filetime = state.filetime;
      s.not_a_number = (a & 0x80) != 0 && (b & 0x80) != 0;
      break;
    default:
      break;
  }
  return s;
}

}  // namespace

std::vector<Step> read_script(const std::uint8_t* data, std::size_t size) {
  ScriptReader reader(data, size);
  ScriptState state;
  std::vector<Step> steps;
  steps.reserve(size / 4 + 1);
  while (!reader.done()) {
    const std::uint8_t op_byte = reader.next();
    const std::uint8_t a = reader.next();
    const std::uint8_t b = reader.next();
    const std::uint8_t c = reader.next();
    auto event = [&](std::uint16_t id) { steps.push_back(event_step(state, id, op_byte, a, b, c)); };
    auto other = [&](Op op) { steps.push_back(other_step(state, op, op_byte, a, b)); };
    switch (op_byte & 31) {
      case 0: case 14: event(event_id::create); break;
      case 1: event(event_id::create_new_file); break;
      case 2: case 29: event(event_id::name_create); break;
      case 3: event(event_id::name_delete); break;
      case 4: case 12: case 13: case 28: event(event_id::read); break;
      case 5: case 30: event(event_id::write); break;
      case 6: case 15: event(event_id::close); break;
      case 7: event(event_id::rename_path); break;
      case 8: event(event_id::delete_path); break;
      case 9: event(event_id::operation_end); break;
      case 10: steps.push_back(classic_step(state, op_byte, a, b, c)); break;
      case 11: event((a & 0x80) ? event_id::beyond_the_provider : event_id::ignored); break;
      case 16: case 31: other(Op::drain); break;
      case 17: other(Op::drain_until_empty); break;
      case 18: other(Op::advance_clock); break;
      case 19: other(Op::skip_events); break;
      case 20: other(Op::expire_due); break;
      case 21: other(Op::test_recovery); break;
      case 22: other(Op::start_or_stop); break;
      case 23: other(Op::add_root); break;
      case 24: other(Op::add_exclusion); break;
      case 25: other(Op::missing); break;
      case 26: other(Op::probe); break;
      default: other(Op::test_emit); break;  // 27
    }
  }
  return steps;
}

test::Bytes payload_of(const Step& s) {
  test::Bytes bytes;
  if (s.op == Op::classic_name) {
    bytes = test::name_event(8, s.file_key, s.path);
    if (s.damage == Damage::short_payload) bytes.resize(4);
  } else {
    const std::uint8_t layout = s.version == 0 ? 0 : 1;  // a refused version keeps the layout of 1
    switch (s.id) {
      case event_id::name_create:
      case event_id::name_delete:
        bytes = test::name_event(8, s.file_key, s.path);
        break;
      case event_id::create:
      case event_id::create_new_file:
        bytes = test::create_event(8, layout, s.irp, s.file_object, s.path);
        break;
      case event_id::close:
        bytes = test::close_event(8, layout, s.file_object, s.file_key);
        break;
      case event_id::read:
      case event_id::write:
        bytes = test::io_event(8, layout, s.file_object, s.file_key);
        break;
      case event_id::operation_end:
        bytes = test::operation_end_event(8, s.irp, s.status);
        break;
      case event_id::delete_path:
      case event_id::rename_path:
        bytes = test::path_event(8, layout, s.path);
        break;
      default:
        break;  // the ignored ids carry nothing
    }
  }
  if (s.damage == Damage::truncated && !bytes.empty()) bytes.pop_back();
  return bytes;
}

}  // namespace mirrow::fuzz
