// mirrowctl record: what live capture asks the system for, recorded into a
// trace file for mirrowctl replay on any machine.
#include <windows.h>

#include <optional>
#include <string>

#include "common/clock.h"
#include "common/paths.h"
#include "common/unique_handle.h"
#include "common/utf16.h"
#include "engine/capture/trace_file.h"
#include "engine/capture/trace_recording_win.h"
#include "host/commands_win.h"
#include "host/console_win.h"
#include "host/system_facts_win.h"

namespace mirrow::host {
namespace {

std::u16string device_behind(const char16_t* drive) {
  std::u16string buffer(32768, u'\0');
  const DWORD written = QueryDosDeviceW(wide(drive), wide(buffer.data()), static_cast<DWORD>(buffer.size()));
  if (written == 0) return {};
  buffer.resize(utf16_length(buffer.c_str()));
  return buffer;
}

// This machine's drives as --device options of mirrowctl replay.
std::string device_options() {
  std::string options;
  for (const DeviceMapping& mapping : build_device_map(device_behind))
    options += " --device " + utf8_from_utf16(mapping.device) + "=" + utf8_from_utf16(mapping.drive);
  return options;
}

std::string start_failure(std::uint32_t status) {
  if (status == ERROR_ACCESS_DENIED) return "recording needs administrator rights (error 5)";
  if (status == ERROR_ALREADY_EXISTS) return "a trace session of that name is already running (error 183)";
  return "the system refused to start the recording (error " + std::to_string(status) + ")";
}

// What the file holds once the session has stopped; a problem when it is
// missing or no trace (a system without real tracing may accept the session
// and write nothing).
std::optional<trace_file::Figures> read_back(const std::u16string& file, std::string& problem) {
  const UniqueHandle handle(CreateFileW(wide(file.c_str()), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!handle || !GetFileSizeEx(handle.get(), &size) || size.QuadPart <= 0 || size.QuadPart > (1LL << 31)) {
    problem = "the system recorded nothing into " + utf8_from_utf16(file);
    return std::nullopt;
  }
  std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!ReadFile(handle.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) || read != bytes.size()) {
    problem = "cannot read back " + utf8_from_utf16(file);
    return std::nullopt;
  }
  trace_file::Reader reader(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  if (!reader.problem().empty()) {
    problem = utf8_from_utf16(file) + " is not a readable trace: " + reader.problem();
    return std::nullopt;
  }
  reader.read([](const trace_file::Event&) {});
  return reader.figures();
}

}  // namespace

int run_record(const Request& request) {
  // Wine accepts a trace session and never writes it.
  if (running_under_wine()) return fail_with(kExitFailed, "recording needs the tracing of Windows, which Wine does not have");
  const std::u16string file = absolute_path(request.trace_file);
  TraceRecording recording;
  std::uint32_t state_status = 0;
  const std::uint32_t status =
      start_recording(system_trace_calls(), file, !request.missing.empty(), recording, state_status);
  if (status != 0) return fail_with(kExitFailed, start_failure(status));
  write_err("recording to " + utf8_from_utf16(file) + " for " + std::to_string(request.seconds) +
            " s (Ctrl+C ends)\n");
  if (state_status != 0)
    write_err("mirrowctl: the names of files already open were not asked for (error " + std::to_string(state_status) +
              ")\n");
  const std::uint64_t end = tick_ms() + request.seconds * 1000;
  while (!interrupted() && tick_ms() < end) Sleep(50);
  SessionLosses losses;
  const std::uint32_t stopped = stop_recording(recording, losses);
  if (stopped != 0) return fail_with(kExitFailed, "the recording did not stop cleanly (error " + std::to_string(stopped) + ")");

  std::string problem;
  const auto figures = read_back(file, problem);
  if (!figures) return fail_with(kExitFailed, problem);
  write_out("recorded " + utf8_from_utf16(file) + ": " + std::to_string(figures->events) + " events in " +
            std::to_string(figures->buffers) + " buffers, " + std::to_string(losses.events) + " events and " +
            std::to_string(losses.buffers) + " buffers lost\n" +
            "to replay it on another machine: mirrowctl replay " + utf8_from_utf16(file) + device_options() + "\n");
  return kExitOk;
}

}  // namespace mirrow::host
