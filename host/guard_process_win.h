#pragma once
// FreezeGuard.exe started the way a host starts it: its standard input and
// output on pipes whose other ends mirrowctl holds, in a process group of
// its own so that Ctrl+C in mirrowctl's console reaches only mirrowctl,
// which then asks the guard to resume instead of leaving a process frozen.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/unique_handle.h"

namespace mirrow::host {

class GuardProcess {
 public:
  // The started guard, or null with the system's error code in `error`.
  static std::unique_ptr<GuardProcess> start(const std::u16string& program, const std::vector<std::u16string>& arguments,
                                             DWORD& error);

  // Writes bytes to the control pipe; false once the guard no longer reads.
  bool send(std::string_view bytes);
  // Closing the control pipe ends a freeze with "control_closed".
  void close_control() { control_.reset(); }

  // The complete lines the guard has written so far, without their line
  // feeds; never blocks.
  std::vector<std::string> take_lines();
  // Whatever is left, after the guard ended and its output closed.
  std::vector<std::string> take_remaining_lines();

  // The exit code once the guard has ended within `wait_ms`.
  std::optional<DWORD> exit_code(DWORD wait_ms);
  HANDLE process() const { return process_.get(); }

 private:
  bool read_available();

  UniqueHandle process_;
  UniqueHandle control_;
  UniqueHandle output_;
  std::string unread_;
};

// FreezeGuard.exe from mirrowctl's own folder, or null with `problem`
// saying that it must lie there (UTF-8).
std::unique_ptr<GuardProcess> start_guard(const std::vector<std::u16string>& arguments, std::string& problem);

}  // namespace mirrow::host
