#include "host/guard_process_win.h"

#include "common/utf16.h"
#include "host/console_win.h"
#include "host/guard_dialogue.h"

namespace mirrow::host {
namespace {

// A pipe whose far end the child inherits and whose near end stays ours.
bool make_pipe(UniqueHandle& near_end, UniqueHandle& far_end, bool child_reads) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return false;
  near_end.reset(child_reads ? write_end : read_end);
  far_end.reset(child_reads ? read_end : write_end);
  return SetHandleInformation(near_end.get(), HANDLE_FLAG_INHERIT, 0) != 0;
}

}  // namespace

std::unique_ptr<GuardProcess> GuardProcess::start(const std::u16string& program,
                                                  const std::vector<std::u16string>& arguments, DWORD& error) {
  auto guard = std::make_unique<GuardProcess>();
  UniqueHandle child_input;
  UniqueHandle child_output;
  if (!make_pipe(guard->control_, child_input, true) || !make_pipe(guard->output_, child_output, false)) {
    error = GetLastError();
    return nullptr;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = child_input.get();
  startup.hStdOutput = child_output.get();
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  std::u16string command_line = windows_command_line(program, arguments);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(reinterpret_cast<const wchar_t*>(program.c_str()),
                      reinterpret_cast<wchar_t*>(command_line.data()), nullptr, nullptr, TRUE,
                      CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup, &info)) {
    error = GetLastError();
    return nullptr;
  }
  CloseHandle(info.hThread);
  guard->process_.reset(info.hProcess);
  return guard;  // the child's pipe ends close here, so end of output is seen when the guard ends
}

bool GuardProcess::send(std::string_view bytes) {
  DWORD written = 0;
  return control_ && WriteFile(control_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

bool GuardProcess::read_available() {
  DWORD available = 0;
  if (!PeekNamedPipe(output_.get(), nullptr, 0, nullptr, &available, nullptr)) return false;
  while (available > 0) {
    char buffer[4096];
    DWORD got = 0;
    if (!ReadFile(output_.get(), buffer, available < sizeof buffer ? available : sizeof buffer, &got, nullptr) ||
        got == 0)
      return false;
    unread_.append(buffer, got);
    available -= got;
  }
  return true;
}

std::vector<std::string> GuardProcess::take_lines() {
  read_available();
  std::vector<std::string> lines;
  for (std::size_t end; (end = unread_.find('\n')) != std::string::npos;) {
    std::string line = unread_.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    unread_.erase(0, end + 1);
  }
  return lines;
}

std::vector<std::string> GuardProcess::take_remaining_lines() {
  // After the guard ended, read until the pipe reports its end.
  for (int rounds = 0; rounds < 100 && read_available(); ++rounds) {
    DWORD available = 0;
    if (!PeekNamedPipe(output_.get(), nullptr, 0, nullptr, &available, nullptr)) break;
    if (available == 0) Sleep(10);
  }
  std::vector<std::string> lines = take_lines();
  if (!unread_.empty()) lines.push_back(std::exchange(unread_, {}));
  return lines;
}

std::optional<DWORD> GuardProcess::exit_code(DWORD wait_ms) {
  if (WaitForSingleObject(process_.get(), wait_ms) != WAIT_OBJECT_0) return std::nullopt;
  DWORD code = 0;
  if (!GetExitCodeProcess(process_.get(), &code)) return std::nullopt;
  return code;
}

std::unique_ptr<GuardProcess> start_guard(const std::vector<std::u16string>& arguments, std::string& problem) {
  const std::u16string program = beside_program(u"FreezeGuard.exe");
  DWORD error = 0;
  auto guard = GuardProcess::start(program, arguments, error);
  if (!guard)
    problem = "cannot start " + utf8_from_utf16(program) + " (error " + std::to_string(error) +
              "); FreezeGuard.exe must lie beside mirrowctl.exe";
  return guard;
}

}  // namespace mirrow::host
