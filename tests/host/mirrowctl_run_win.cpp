#include "tests/host/mirrowctl_run_win.h"

#include <fstream>
#include <iterator>

namespace mirrow::host::testing {
namespace {

UniqueHandle inheritable_file(const std::wstring& path) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return UniqueHandle(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::string contents_of(const std::wstring& path) {
  std::ifstream file(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::wstring quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

}  // namespace

void make_file(const std::wstring& path, std::size_t size) {
  std::ofstream file(path.c_str(), std::ios::binary);
  file << std::string(size, 'x');
}

Mirrowctl::Mirrowctl(const std::vector<std::wstring>& arguments, std::wstring program)
    : directory_(fresh_temp_directory(L"mirrowctl-run")) {
  if (program.empty()) program = mirrowctl_path();
  UniqueHandle out = inheritable_file(directory_ + L"\\out.txt");
  UniqueHandle err = inheritable_file(directory_ + L"\\err.txt");
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  CreatePipe(&read_end, &write_end, &inherit, 0);
  UniqueHandle child_input(read_end);
  input_.reset(write_end);
  SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, 0);

  std::wstring command_line = quoted(program);
  for (const auto& argument : arguments) command_line += L" " + quoted(argument);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = child_input.get();
  startup.hStdOutput = out.get();
  startup.hStdError = err.get();
  PROCESS_INFORMATION created{};
  if (CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                     nullptr, &startup, &created)) {
    process_.reset(created.hProcess);
    pid_ = created.dwProcessId;
    CloseHandle(created.hThread);
  }
}

Mirrowctl::~Mirrowctl() {
  if (process_) TerminateProcess(process_.get(), 99);
  remove_tree(directory_);
}

void Mirrowctl::type(std::string_view bytes) {
  DWORD written = 0;
  WriteFile(input_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

Outcome Mirrowctl::finish(DWORD timeout_ms) {
  Outcome outcome;
  if (!process_) return outcome;
  if (WaitForSingleObject(process_.get(), timeout_ms) != WAIT_OBJECT_0) {
    TerminateProcess(process_.get(), 99);
    WaitForSingleObject(process_.get(), 5000);
  }
  GetExitCodeProcess(process_.get(), &outcome.exit_code);
  process_.reset();
  outcome.out = contents_of(directory_ + L"\\out.txt");
  outcome.err = contents_of(directory_ + L"\\err.txt");
  return outcome;
}

Outcome run_mirrowctl(const std::vector<std::wstring>& arguments, DWORD timeout_ms) {
  Mirrowctl run(arguments);
  return run.finish(timeout_ms);
}

}  // namespace mirrow::host::testing
