// Helper processes for the guard tests.
//   counter FILE       keeps writing a rising 64-bit counter at offset 0 of FILE,
//                      so a test can see whether the process runs or is frozen.
//   host EXE ARGS...   starts EXE ARGS... with this process's standard handles
//                      and waits for it: a stand-in host that a test can kill
//                      while its guard (whose owner it is) keeps running.
#include <windows.h>

#include <cstdint>
#include <string>

namespace {

int run_counter(const wchar_t* path) {
  const HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  for (std::uint64_t count = 1;; ++count) {
    OVERLAPPED at_start{};
    DWORD written = 0;
    WriteFile(file, &count, sizeof count, &written, &at_start);
    Sleep(2);
  }
}

std::wstring quoted(const wchar_t* argument) { return L"\"" + std::wstring(argument) + L"\""; }

int run_host(int argc, wchar_t** argv) {
  std::wstring command_line;
  for (int i = 2; i < argc; ++i) command_line += (i > 2 ? L" " : L"") + quoted(argv[i]);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION created{};
  if (!CreateProcessW(argv[2], command_line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                      &startup, &created)) {
    return 4;
  }
  WaitForSingleObject(created.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(created.hProcess, &code);
  CloseHandle(created.hThread);
  CloseHandle(created.hProcess);
  return static_cast<int>(code);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"counter" && argc == 3) return run_counter(argv[2]);
  if (mode == L"host" && argc >= 3) return run_host(argc, argv);
  return 2;
}
