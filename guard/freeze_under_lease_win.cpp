#include "common/clock.h"
#include "guard/freeze_lifecycle.h"
#include "guard/guard_win.h"

namespace mirrow::guard {
namespace {

using NtProcessCall = LONG(NTAPI*)(HANDLE);

NtProcessCall ntdll_entry(const char* name) {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return nullptr;
  return reinterpret_cast<NtProcessCall>(reinterpret_cast<void*>(GetProcAddress(ntdll, name)));
}

class WindowsFreezePlatform final : public FreezePlatform {
 public:
  WindowsFreezePlatform(HANDLE target, HANDLE owner, std::u16string_view journal_path)
      : target_(target), owner_(owner), journal_path_(journal_path) {}

  bool has_suspend_calls() override { return suspend_ != nullptr && resume_ != nullptr; }
  NtStatus suspend_target() override { return suspend_(target_); }
  NtStatus resume_target() override { return resume_(target_); }

  OwnerWait wait_for_owner(std::uint32_t timeout_ms) override {
    switch (WaitForSingleObject(owner_, timeout_ms)) {
      case WAIT_OBJECT_0: return OwnerWait::signalled;
      case WAIT_TIMEOUT: return OwnerWait::timed_out;
      default: return OwnerWait::failed;
    }
  }

  bool target_ended() override { return WaitForSingleObject(target_, 0) == WAIT_OBJECT_0; }

  // Standard input is fetched anew on every call: the self-test swaps it.
  std::optional<std::uint32_t> control_bytes_waiting() override {
    DWORD available = 0;
    if (!PeekNamedPipe(GetStdHandle(STD_INPUT_HANDLE), nullptr, 0, nullptr, &available, nullptr)) return std::nullopt;
    return available;
  }

  std::optional<std::size_t> read_control(std::span<std::uint8_t> buffer) override {
    DWORD read = 0;
    if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
      return std::nullopt;
    }
    return read;
  }

  std::uint64_t now_ms() override { return tick_ms(); }
  void append_to_journal(std::string_view line) override { append_journal_line(journal_path_, line); }
  void write_output(std::string_view line) override { write_output_line(line); }

 private:
  HANDLE target_;
  HANDLE owner_;
  std::u16string_view journal_path_;
  NtProcessCall suspend_ = ntdll_entry("NtSuspendProcess");
  NtProcessCall resume_ = ntdll_entry("NtResumeProcess");
};

}  // namespace

NtStatus freeze_under_lease(HANDLE target, HANDLE owner, std::uint32_t lease_seconds,
                            std::u16string_view journal_path, std::uint32_t heartbeat_timeout_ms) {
  WindowsFreezePlatform platform(target, owner, journal_path);
  return run_freeze_lifecycle(platform, lease_seconds, heartbeat_timeout_ms);
}

}  // namespace mirrow::guard
