#pragma once
// The real system behind one freeze: NtSuspendProcess and NtResumeProcess
// looked up in the loaded ntdll, waits on the owner and the target, the
// control pipe on standard input, the journal and standard output.
#include <windows.h>

#include <string_view>

#include "guard/freeze_lifecycle.h"

namespace mirrow::guard {

class WindowsFreezePlatform final : public FreezePlatform {
 public:
  using NtProcessCall = LONG(NTAPI*)(HANDLE);
  // A process-wide call of the loaded ntdll by name; null when it is missing.
  static NtProcessCall ntdll_entry(const char* name);

  WindowsFreezePlatform(HANDLE target, HANDLE owner, std::u16string_view journal_path);

  bool has_suspend_calls() override;
  NtStatus suspend_target() override;
  NtStatus resume_target() override;
  OwnerWait wait_for_owner(std::uint32_t timeout_ms) override;
  bool target_ended() override;
  std::optional<std::uint32_t> control_bytes_waiting() override;
  std::optional<std::size_t> read_control(std::span<std::uint8_t> buffer) override;
  std::uint64_t now_ms() override;
  void append_to_journal(std::string_view line) override;
  void write_output(std::string_view line) override;
  bool ending_requested() override;
  void announce_resumed() override;

 private:
  HANDLE target_;
  HANDLE owner_;
  std::u16string_view journal_path_;
  NtProcessCall suspend_;
  NtProcessCall resume_;
};

}  // namespace mirrow::guard
