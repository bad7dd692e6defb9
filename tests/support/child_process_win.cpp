#include "support/child_process_win.h"

namespace mirrow::testing {
namespace {

std::wstring quoted_command_line(const std::wstring& program, const std::vector<std::wstring>& arguments) {
  std::wstring line = L"\"" + program + L"\"";
  for (const std::wstring& argument : arguments) line += L" \"" + argument + L"\"";
  return line;
}

}  // namespace

PipeEnds inheritable_pipe() {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  CreatePipe(&read, &write, &inheritable, 0);
  return PipeEnds{UniqueHandle(read), UniqueHandle(write)};
}

StartedChild start_child(const std::wstring& program, const std::vector<std::wstring>& arguments, HANDLE input,
                         HANDLE output, HANDLE error) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = output;
  startup.hStdError = error;
  std::wstring command_line = quoted_command_line(program, arguments);
  PROCESS_INFORMATION created{};
  StartedChild child;
  if (CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                     &startup, &created)) {
    child.process.reset(created.hProcess);
    CloseHandle(created.hThread);
    child.pid = created.dwProcessId;
  }
  return child;
}

}  // namespace mirrow::testing

namespace mirrow::guard::testing {

using mirrow::testing::inheritable_pipe;
using mirrow::testing::PipeEnds;

std::string read_file(const std::wstring& path) {
  const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string text(1 << 16, '\0');
  DWORD read = 0;
  if (file) ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr);
  text.resize(read);
  return text;
}

void write_file(const std::wstring& path, std::string_view text) {
  const UniqueHandle file(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::uint64_t creation_ticks_of(HANDLE process) {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  return (std::uint64_t{created.dwHighDateTime} << 32) | created.dwLowDateTime;
}

std::wstring image_path_of(HANDLE process) {
  std::wstring path(32768, L'\0');
  DWORD length = static_cast<DWORD>(path.size());
  if (!QueryFullProcessImageNameW(process, 0, path.data(), &length)) return {};
  path.resize(length);
  return path;
}

PipedProcess::PipedProcess(const std::wstring& program, const std::vector<std::wstring>& arguments) {
  PipeEnds input = inheritable_pipe();
  PipeEnds output = inheritable_pipe();
  SetHandleInformation(input.write.get(), HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(output.read.get(), HANDLE_FLAG_INHERIT, 0);
  mirrow::testing::StartedChild child = mirrow::testing::start_child(program, arguments, input.read.get(),
                                                                    output.write.get(), GetStdHandle(STD_ERROR_HANDLE));
  process_ = std::move(child.process);
  pid_ = child.pid;
  input_ = std::move(input.write);
  output_ = std::move(output.read);
}

void PipedProcess::send(std::string_view bytes) {
  DWORD written = 0;
  WriteFile(input_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

bool PipedProcess::read_more(DWORD timeout_ms) {
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(output_.get(), nullptr, 0, nullptr, &available, nullptr)) return false;
    if (available > 0) {
      std::string chunk(available, '\0');
      DWORD read = 0;
      if (!ReadFile(output_.get(), chunk.data(), available, &read, nullptr)) return false;
      unread_.append(chunk, 0, read);
      return true;
    }
    if (GetTickCount64() >= deadline) return false;
    Sleep(1);
  }
}

std::optional<std::string> PipedProcess::next_line(DWORD timeout_ms) {
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  for (;;) {
    const std::size_t end = unread_.find('\n');
    if (end != std::string::npos) {
      std::string line = unread_.substr(0, end);
      unread_.erase(0, end + 1);
      return line;
    }
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline || !read_more(static_cast<DWORD>(deadline - now))) return std::nullopt;
  }
}

std::string PipedProcess::rest_of_output(DWORD timeout_ms) {
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline || !read_more(static_cast<DWORD>(deadline - now))) break;
  }
  return std::exchange(unread_, std::string());
}

std::optional<DWORD> PipedProcess::exit_code(DWORD timeout_ms) {
  if (WaitForSingleObject(process_.get(), timeout_ms) != WAIT_OBJECT_0) return std::nullopt;
  DWORD code = 0;
  GetExitCodeProcess(process_.get(), &code);
  return code;
}

void PipedProcess::kill() {
  TerminateProcess(process_.get(), 99);
  WaitForSingleObject(process_.get(), 5000);
}

// Detached, so that no console host process becomes the counter's child:
// a target with children is refused.
Counter::Counter(const std::wstring& directory, const std::wstring& program) : file_(directory + L"\\counter.bin") {
  std::wstring command_line = L"\"" + program + L"\" counter \"" + file_ + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION created{};
  if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                      nullptr, &startup, &created)) {
    return;
  }
  process_.reset(created.hProcess);
  CloseHandle(created.hThread);
  pid_ = created.dwProcessId;
  created_ = creation_ticks_of(process_.get());
  image_path_ = image_path_of(process_.get());
  runs();  // the file exists and counts before any test looks at it
}

Counter::~Counter() {
  TerminateProcess(process_.get(), 0);
  WaitForSingleObject(process_.get(), 5000);
}

std::uint64_t Counter::value() const {
  const UniqueHandle file(CreateFileW(file_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::uint64_t count = 0;
  DWORD read = 0;
  if (file) ReadFile(file.get(), &count, sizeof count, &read, nullptr);
  return read == sizeof count ? count : 0;
}

bool Counter::runs(DWORD within_ms) const {
  const std::uint64_t before = value();
  const ULONGLONG deadline = GetTickCount64() + within_ms;
  while (GetTickCount64() < deadline) {
    Sleep(10);
    if (value() > before) return true;
  }
  return false;
}

bool Counter::stands_still(DWORD for_ms) const {
  const std::uint64_t before = value();
  Sleep(for_ms);
  return value() == before;
}

std::vector<std::wstring> target_arguments(const Counter& counter, std::wstring_view lease, const std::wstring& journal) {
  return {std::to_wstring(counter.pid()), std::to_wstring(counter.created()), std::wstring(lease), counter.image_path(),
          journal};
}

}  // namespace mirrow::guard::testing
