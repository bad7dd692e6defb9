#include "tests/host/mirrowctl_run_win.h"

#include <fstream>
#include <iterator>
#include <utility>

#include "support/child_process_win.h"

#include "support/program_folder_win.h"

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
  mirrow::testing::PipeEnds input = mirrow::testing::inheritable_pipe();
  SetHandleInformation(input.write.get(), HANDLE_FLAG_INHERIT, 0);
  input_ = std::move(input.write);
  mirrow::testing::StartedChild child =
      mirrow::testing::start_child(program, arguments, input.read.get(), out.get(), err.get());
  process_ = std::move(child.process);
  pid_ = child.pid;
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
