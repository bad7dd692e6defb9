#include "host/console_win.h"

#include <windows.h>

#include <atomic>
#include <vector>

#include "common/unique_handle.h"
#include "common/utf16.h"

namespace mirrow::host {
namespace {

std::atomic<bool> g_interrupted{false};

BOOL WINAPI on_console_control(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  g_interrupted = true;
  return TRUE;  // handled: the program finishes its work (resumes a frozen process) and ends itself
}

bool is_console(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

void write_to(DWORD which, std::string_view utf8) {
  const HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || utf8.empty()) return;
  if (is_console(handle)) {
    const std::u16string text = utf16_from_utf8(utf8);
    DWORD written = 0;
    WriteConsoleW(handle, wide(text.c_str()), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  while (!utf8.empty()) {
    DWORD written = 0;
    if (!WriteFile(handle, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr) || written == 0) return;
    utf8.remove_prefix(written);
  }
}

}  // namespace

void prepare_console() {
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleCtrlHandler(on_console_control, TRUE);
}

void write_out(std::string_view utf8) { write_to(STD_OUTPUT_HANDLE, utf8); }
void write_err(std::string_view utf8) { write_to(STD_ERROR_HANDLE, utf8); }
bool error_is_console() { return is_console(GetStdHandle(STD_ERROR_HANDLE)); }
bool interrupted() { return g_interrupted; }

std::int64_t utc_offset_seconds() {
  FILETIME utc{};
  GetSystemTimeAsFileTime(&utc);
  FILETIME local{};
  if (!FileTimeToLocalFileTime(&utc, &local)) return 0;
  const auto as_int = [](const FILETIME& t) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
  };
  return (as_int(local) - as_int(utc)) / 10000000;
}

std::u16string absolute_path(const std::u16string& path) {
  const DWORD needed = GetFullPathNameW(wide(path.c_str()), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::vector<wchar_t> buffer(needed + 1);
  const DWORD length = GetFullPathNameW(wide(path.c_str()), needed + 1, buffer.data(), nullptr);
  if (length == 0 || length > needed) return path;
  return std::u16string(utf16(buffer.data()), length);
}

std::u16string beside_program(std::u16string_view file_name) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::u16string(file_name);
    if (length < buffer.size()) {
      std::u16string path(utf16(buffer.data()), length);
      path.resize(path.rfind(u'\\') + 1);
      return path + std::u16string(file_name);
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace mirrow::host
