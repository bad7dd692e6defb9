// vt_replay_file: a recorded trace file read with the engine's own reader,
// every event handed as an EVENT_RECORD to the record callback that
// ProcessTrace calls, on the host's thread, with the engine stopped.
#include <windows.h>

#include <array>
#include <mutex>
#include <cstring>
#include <optional>
#include <span>
#include <string>

#include "common/unique_handle.h"
#include "common/utf16.h"
#include "engine/api/engine_win.h"
#include "engine/api/host_events.h"
#include "engine/capture/trace_replay.h"
#include "engine/capture/trace_session_win.h"
#include "engine/core/result_codes.h"
#include "vantrel.h"

using namespace mirrow;

namespace {

Engine& engine_of(vt_engine* handle) { return *reinterpret_cast<Engine*>(handle); }

// The whole file as one read-only view; empty for an empty file.
struct MappedFile {
  UniqueHandle file;
  UniqueHandle mapping;
  UniqueMappedView view;
  std::span<const std::uint8_t> bytes;
};

std::uint32_t map_whole_file(const wchar_t* path, MappedFile& mapped) {
  mapped.file.reset(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!mapped.file) return GetLastError();
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(mapped.file.get(), &size)) return GetLastError();
  if (size.QuadPart == 0) return result_ok;
  if (static_cast<std::uint64_t>(size.QuadPart) > SIZE_MAX) return result_out_of_memory;
  mapped.mapping.reset(CreateFileMappingW(mapped.file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapped.mapping) return GetLastError();
  mapped.view.reset(MapViewOfFile(mapped.mapping.get(), FILE_MAP_READ, 0, 0, 0));
  if (!mapped.view) return GetLastError();
  mapped.bytes = std::span(static_cast<const std::uint8_t*>(mapped.view.get()), static_cast<std::size_t>(size.QuadPart));
  return result_ok;
}

// The record ProcessTrace would hand the callback for this event.
void deliver_as_event_record(void* context, const trace_file::Event& event) {
  EVENT_RECORD record{};
  EVENT_HEADER& header = record.EventHeader;
  header.Size = sizeof(EVENT_HEADER);
  header.Flags = event.flags;
  header.EventProperty = event.event_property;
  header.ThreadId = event.thread_id;
  header.ProcessId = event.process_id;
  header.TimeStamp.QuadPart = event.timestamp;
  static_assert(sizeof header.ProviderId == sizeof event.provider);
  std::memcpy(&header.ProviderId, &event.provider, sizeof header.ProviderId);
  std::memcpy(&header.ActivityId, &event.activity_id, sizeof header.ActivityId);
  header.EventDescriptor.Id = event.id;
  header.EventDescriptor.Version = event.version;
  header.EventDescriptor.Channel = event.channel;
  header.EventDescriptor.Level = event.level;
  header.EventDescriptor.Opcode = event.opcode;
  header.EventDescriptor.Task = event.task;
  header.EventDescriptor.Keyword = event.keyword;
  header.KernelTime = event.kernel_time;
  header.UserTime = event.user_time;
  record.BufferContext.ProcessorIndex = event.processor;
  record.BufferContext.LoggerId = event.logger_id;

  std::array<EVENT_HEADER_EXTENDED_DATA_ITEM, trace_file::max_extended_items> items{};
  for (std::uint16_t i = 0; i < event.extended_count; ++i) {
    items[i].ExtType = event.extended[i].type;
    items[i].DataSize = event.extended[i].size;
    items[i].DataPtr = reinterpret_cast<ULONGLONG>(event.extended[i].data);
    items[i].Linkage = i + 1 < event.extended_count ? 1 : 0;
  }
  record.ExtendedDataCount = event.extended_count;
  record.ExtendedData = event.extended_count == 0 ? nullptr : items.data();
  record.UserDataLength = event.user_data_length;
  record.UserData = const_cast<std::uint8_t*>(event.user_data);
  record.UserContext = context;
  receive_event_record(&record);
}

}  // namespace

extern "C" {

uint32_t WINAPI vt_replay_file(vt_engine* handle, const wchar_t* path, const wchar_t* devices,
                               const char** out_report, uint64_t* out_length) {
  if (out_report != nullptr) *out_report = nullptr;
  if (out_length != nullptr) *out_length = 0;
  if (handle == nullptr || path == nullptr) return result_invalid;
  Engine& engine = engine_of(handle);
  try {
    MappedFile mapped;
    if (const std::uint32_t status = map_whole_file(path, mapped); status != result_ok) return status;
    const std::optional<std::u16string> entries =
        devices == nullptr ? std::nullopt : std::optional<std::u16string>(utf16(devices));
    TraceReplay replay =
        replay_trace(engine, utf16(path), mapped.bytes, entries, &deliver_as_event_record, &engine.decoding);
    std::lock_guard hold(engine.replay_file_lock);
    engine.replay_file_text = std::move(replay.report);
    if (out_report != nullptr) *out_report = engine.replay_file_text.c_str();
    if (out_length != nullptr) *out_length = engine.replay_file_text.size();
    return replay.status;
  } catch (...) {
    engine.counters.add(Counter::errors);
    return result_out_of_memory;
  }
}

}  // extern "C"
