// The engine's reader of trace files against Windows' own: the recording in
// the test folder, and the recording a CI job makes of its own run
// (job-recording.etl beside this program), each read by OpenTraceW with
// ProcessTrace and by the engine's reader, must give the same events in the
// same order with the same fields. Skipped under Wine, whose OpenTraceW
// reads no file.
#include <windows.h>
#include <evntcons.h>
#include <evntrace.h>

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "engine/capture/trace_file.h"
#include "support/program_folder_win.h"
#include "support/trace_fixture.h"
#include "tests/live/live_support_win.h"

namespace mirrow::live {
namespace {

// One event as both readers see it.
struct Seen {
  GUID provider{};
  std::uint16_t id = 0, task = 0, flags = 0, processor = 0;
  std::uint8_t version = 0, opcode = 0, level = 0, channel = 0;
  std::uint64_t keyword = 0;
  std::uint32_t pid = 0, tid = 0;
  std::int64_t timestamp = 0;
  std::vector<std::uint8_t> data;
  std::vector<std::pair<std::uint16_t, std::vector<std::uint8_t>>> extended;
};

std::string differences(const Seen& system, const Seen& ours) {
  std::ostringstream out;
  const auto field = [&](const char* name, auto a, auto b) {
    if (a != b) out << " " << name << " " << +a << " vs " << +b << ";";
  };
  if (std::memcmp(&system.provider, &ours.provider, sizeof(GUID)) != 0) out << " provider;";
  field("id", system.id, ours.id);
  field("version", system.version, ours.version);
  field("opcode", system.opcode, ours.opcode);
  field("level", system.level, ours.level);
  field("channel", system.channel, ours.channel);
  field("task", system.task, ours.task);
  field("keyword", system.keyword, ours.keyword);
  field("flags", system.flags, ours.flags);
  field("pid", system.pid, ours.pid);
  field("tid", system.tid, ours.tid);
  field("timestamp", system.timestamp, ours.timestamp);
  field("processor", system.processor, ours.processor);
  field("data length", system.data.size(), ours.data.size());
  if (system.data != ours.data) out << " data bytes;";
  field("extended items", system.extended.size(), ours.extended.size());
  if (system.extended != ours.extended) out << " extended items' types or bytes;";
  return out.str();
}

void WINAPI collect(PEVENT_RECORD record) {
  auto& seen = *static_cast<std::vector<Seen>*>(record->UserContext);
  const EVENT_HEADER& h = record->EventHeader;
  Seen s;
  s.provider = h.ProviderId;
  s.id = h.EventDescriptor.Id;
  s.version = h.EventDescriptor.Version;
  s.opcode = h.EventDescriptor.Opcode;
  s.level = h.EventDescriptor.Level;
  s.channel = h.EventDescriptor.Channel;
  s.task = h.EventDescriptor.Task;
  s.keyword = h.EventDescriptor.Keyword;
  s.flags = h.Flags;
  s.pid = h.ProcessId;
  s.tid = h.ThreadId;
  s.timestamp = h.TimeStamp.QuadPart;
  s.processor = record->BufferContext.ProcessorIndex;
  const auto* data = static_cast<const std::uint8_t*>(record->UserData);
  s.data.assign(data, data + record->UserDataLength);
  for (USHORT i = 0; i < record->ExtendedDataCount; ++i) {
    const EVENT_HEADER_EXTENDED_DATA_ITEM& item = record->ExtendedData[i];
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(item.DataPtr);
    s.extended.emplace_back(item.ExtType, std::vector<std::uint8_t>(bytes, bytes + item.DataSize));
  }
  seen.push_back(std::move(s));
}

std::vector<Seen> read_by_the_system(const std::wstring& path, ULONG& status) {
  std::vector<Seen> seen;
  std::wstring name = path;
  EVENT_TRACE_LOGFILEW logfile{};
  logfile.LogFileName = name.data();
  logfile.ProcessTraceMode = PROCESS_TRACE_MODE_EVENT_RECORD;
  logfile.EventRecordCallback = &collect;
  logfile.Context = &seen;
  TRACEHANDLE handle = OpenTraceW(&logfile);
  if (handle == INVALID_PROCESSTRACE_HANDLE) {
    status = GetLastError();
    return seen;
  }
  status = ProcessTrace(&handle, 1, nullptr, nullptr);
  CloseTrace(handle);
  return seen;
}

std::vector<Seen> read_by_the_engine(const std::vector<std::uint8_t>& bytes) {
  std::vector<Seen> seen;
  trace_file::Reader reader(bytes);
  reader.read([&](const trace_file::Event& e) {
    Seen s;
    std::memcpy(&s.provider, &e.provider, sizeof(GUID));
    s.id = e.id;
    s.version = e.version;
    s.opcode = e.opcode;
    s.level = e.level;
    s.channel = e.channel;
    s.task = e.task;
    s.keyword = e.keyword;
    s.flags = e.flags;
    s.pid = e.process_id;
    s.tid = e.thread_id;
    s.timestamp = e.timestamp;
    s.processor = e.processor;
    s.data.assign(e.user_data, e.user_data + e.user_data_length);
    for (std::uint16_t i = 0; i < e.extended_count; ++i)
      s.extended.emplace_back(e.extended[i].type,
                              std::vector<std::uint8_t>(e.extended[i].data, e.extended[i].data + e.extended[i].size));
    seen.push_back(std::move(s));
  });
  return seen;
}

// The first events where the two readers differ, with what differs.
void expect_same_events(const std::wstring& path, const std::vector<std::uint8_t>& bytes) {
  ULONG status = 0;
  const std::vector<Seen> system = read_by_the_system(path, status);
  ASSERT_EQ(status, 0u) << "OpenTraceW or ProcessTrace failed";
  const std::vector<Seen> ours = read_by_the_engine(bytes);
  EXPECT_EQ(system.size(), ours.size());
  int reported = 0;
  for (std::size_t i = 0; i < std::min(system.size(), ours.size()) && reported < 8; ++i) {
    const std::string diff = differences(system[i], ours[i]);
    if (diff.empty()) continue;
    ADD_FAILURE() << "event " << i << ":" << diff;
    ++reported;
  }
}

TEST(LiveTraceFile, the_recording_of_a_real_machine_reads_the_same_with_this_reader_and_with_opentrace) {
  LIVE_SKIP_UNLESS_POSSIBLE("reading trace files through OpenTraceW", false);
  expect_same_events(mirrow::testing::trace_fixture_path().wstring(), mirrow::testing::trace_fixture());
}

TEST(LiveTraceFile, the_jobs_own_recording_reads_the_same_with_this_reader_and_with_opentrace) {
  LIVE_SKIP_UNLESS_POSSIBLE("reading trace files through OpenTraceW", false);
  const std::wstring path = mirrow::testing::beside_this_program(L"job-recording.etl");
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
    GTEST_SKIP() << "no job-recording.etl beside this program (the Windows CI job records one with mirrowctl record)";
  expect_same_events(path, mirrow::testing::read_whole_file(path));
}

}  // namespace
}  // namespace mirrow::live
