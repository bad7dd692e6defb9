#include "guard/guard_win.h"
#include "guard/output_lines.h"

namespace mirrow::guard {

void write_output_line(std::string_view line) {
  // One write per line: the host reads whole lines off the pipe, and a line
  // is there the moment this returns.
  const std::string wire = with_line_feed(line);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), wire.data(), static_cast<DWORD>(wire.size()), &written, nullptr);
}

}  // namespace mirrow::guard
