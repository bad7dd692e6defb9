// The helper program of the live tests.
//   live_test_child activity ROOT   creates, writes, reads, renames and
//       deletes a file under ROOT with unbuffered write-through I/O (so that
//       the work stays in this process instead of moving to the cache
//       manager), then opens ROOT\absent.txt, which does not exist.
//   live_test_child capture         starts an engine of the Vantrel.dll beside
//       it with capture, prints "started STATUS" and waits to be killed.
#include <windows.h>

#include <cstdio>
#include <string>

#include "vantrel.h"

namespace {

// Unbuffered I/O moves whole sectors from sector-aligned memory; a page
// satisfies both on every disk.
constexpr DWORD kBlock = 4096;

int fail(const char* step) {
  std::printf("failed: %s (error %lu)\n", step, GetLastError());
  return 1;
}

int file_activity(const std::wstring& root) {
  const std::wstring made = root + L"\\made.txt";
  const std::wstring renamed = root + L"\\renamed.txt";
  void* block = VirtualAlloc(nullptr, kBlock, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (block == nullptr) return fail("VirtualAlloc");
  FillMemory(block, kBlock, 'm');
  DWORD moved = 0;

  HANDLE file = CreateFileW(made.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH, nullptr);
  if (file == INVALID_HANDLE_VALUE) return fail("create");
  const bool written = WriteFile(file, block, kBlock, &moved, nullptr) && moved == kBlock;
  CloseHandle(file);
  if (!written) return fail("write");

  file = CreateFileW(made.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_NO_BUFFERING, nullptr);
  if (file == INVALID_HANDLE_VALUE) return fail("open for reading");
  const bool read = ReadFile(file, block, kBlock, &moved, nullptr) && moved == kBlock;
  CloseHandle(file);
  if (!read) return fail("read");

  if (!MoveFileExW(made.c_str(), renamed.c_str(), MOVEFILE_WRITE_THROUGH)) return fail("rename");
  if (!DeleteFileW(renamed.c_str())) return fail("delete");

  file = CreateFileW((root + L"\\absent.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    std::printf("failed: absent.txt exists\n");
    return 1;
  }
  VirtualFree(block, 0, MEM_RELEASE);
  std::printf("done\n");
  return 0;
}

std::wstring beside_this_program(const wchar_t* name) {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path.substr(0, path.find_last_of(L'\\') + 1) + name;
}

int capture_until_killed() {
  const HMODULE library = LoadLibraryW(beside_this_program(L"Vantrel.dll").c_str());
  if (library == nullptr) return fail("load Vantrel.dll");
  const auto create = reinterpret_cast<decltype(&vt_create)>(reinterpret_cast<void*>(GetProcAddress(library, "vt_create")));
  const auto start = reinterpret_cast<decltype(&vt_start)>(reinterpret_cast<void*>(GetProcAddress(library, "vt_start")));
  if (create == nullptr || start == nullptr) return fail("bind the exports");
  vt_engine* engine = create();
  std::printf("started %u\n", engine == nullptr ? 8u : start(engine, 1, 0));
  std::fflush(stdout);
  Sleep(INFINITE);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  int status = 2;
  if (mode == L"activity" && argc == 3) status = file_activity(argv[2]);
  else if (mode == L"capture" && argc == 2) status = capture_until_killed();
  else std::printf("usage: live_test_child activity ROOT | capture\n");
  std::fflush(stdout);
  return status;
}
