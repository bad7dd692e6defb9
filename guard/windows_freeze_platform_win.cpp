#include "common/clock.h"
#include "guard/guard_win.h"
#include "guard/windows_freeze_platform_win.h"

namespace mirrow::guard {

WindowsFreezePlatform::WindowsFreezePlatform(HANDLE target, HANDLE owner, std::u16string_view journal_path)
    : target_(target),
      owner_(owner),
      journal_path_(journal_path),
      suspend_(ntdll_entry("NtSuspendProcess")),
      resume_(ntdll_entry("NtResumeProcess")) {}

WindowsFreezePlatform::NtProcessCall WindowsFreezePlatform::ntdll_entry(const char* name) {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return nullptr;
  return reinterpret_cast<NtProcessCall>(reinterpret_cast<void*>(GetProcAddress(ntdll, name)));
}

bool WindowsFreezePlatform::has_suspend_calls() { return suspend_ != nullptr && resume_ != nullptr; }

NtStatus WindowsFreezePlatform::suspend_target() {
  if (!console_hold_begins()) return kStatusOwnerGone;
  const NtStatus status = suspend_(target_);
  if (!nt_success(status)) console_hold_ends();
  return status;
}

NtStatus WindowsFreezePlatform::resume_target() { return resume_(target_); }

OwnerWait WindowsFreezePlatform::wait_for_owner(std::uint32_t timeout_ms) {
  switch (WaitForSingleObject(owner_, timeout_ms)) {
    case WAIT_OBJECT_0: return OwnerWait::signalled;
    case WAIT_TIMEOUT: return OwnerWait::timed_out;
    default: return OwnerWait::failed;
  }
}

bool WindowsFreezePlatform::target_ended() { return WaitForSingleObject(target_, 0) == WAIT_OBJECT_0; }

// Standard input is fetched anew on every call: the self-test swaps it.
std::optional<std::uint32_t> WindowsFreezePlatform::control_bytes_waiting() {
  DWORD available = 0;
  if (!PeekNamedPipe(GetStdHandle(STD_INPUT_HANDLE), nullptr, 0, nullptr, &available, nullptr)) return std::nullopt;
  return available;
}

std::optional<std::size_t> WindowsFreezePlatform::read_control(std::span<std::uint8_t> buffer) {
  DWORD read = 0;
  if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
    return std::nullopt;
  }
  return read;
}

std::uint64_t WindowsFreezePlatform::now_ms() { return tick_ms(); }
void WindowsFreezePlatform::append_to_journal(std::string_view line) { append_journal_line(journal_path_, line); }
void WindowsFreezePlatform::write_output(std::string_view line) { write_output_line(line); }
bool WindowsFreezePlatform::ending_requested() { return console_ending_requested(); }
void WindowsFreezePlatform::announce_resumed() { console_hold_ends(); }

NtStatus freeze_under_lease(HANDLE target, HANDLE owner, std::uint32_t lease_seconds,
                            std::u16string_view journal_path, std::uint32_t heartbeat_timeout_ms) {
  WindowsFreezePlatform platform(target, owner, journal_path);
  return run_freeze_lifecycle(platform, lease_seconds, heartbeat_timeout_ms);
}

}  // namespace mirrow::guard
