#include "common/unique_handle.h"
#include "guard/guard_win.h"
#include "guard/output_lines.h"

namespace mirrow::guard {

void append_journal_line(std::u16string_view path, std::string_view line) {
  if (path.empty()) return;
  const std::u16string terminated(path);
  // Append-only access: every write lands at the end, nothing is truncated.
  // The file is never held open, so the host can read it at any time.
  const UniqueHandle file(CreateFileW(wide(terminated.c_str()), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  const std::string wire = with_line_feed(line);
  DWORD written = 0;
  WriteFile(file.get(), wire.data(), static_cast<DWORD>(wire.size()), &written, nullptr);
}

std::optional<JournalTail> read_journal_tail(std::u16string_view path, std::size_t max_bytes) {
  if (path.empty()) return std::nullopt;
  const std::u16string terminated(path);
  // Shared for writing too: a guard may append while this reads.
  const UniqueHandle file(CreateFileW(wide(terminated.c_str()), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file || !GetFileSizeEx(file.get(), &size)) return std::nullopt;
  const auto whole = static_cast<std::uint64_t>(size.QuadPart);
  const std::uint64_t start = whole > max_bytes ? whole - max_bytes : 0;
  LARGE_INTEGER offset{};
  offset.QuadPart = static_cast<LONGLONG>(start);
  if (!SetFilePointerEx(file.get(), offset, nullptr, FILE_BEGIN)) return std::nullopt;
  JournalTail tail{std::string(static_cast<std::size_t>(whole - start), '\0'), start == 0};
  DWORD read = 0;
  if (!ReadFile(file.get(), tail.bytes.data(), static_cast<DWORD>(tail.bytes.size()), &read, nullptr)) return std::nullopt;
  tail.bytes.resize(read);
  return tail;
}

}  // namespace mirrow::guard
