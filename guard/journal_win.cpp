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

}  // namespace mirrow::guard
