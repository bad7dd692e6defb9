#include <vector>

#include "classifier/verdict.h"
#include "common/unique_handle.h"
#include "guard/exit_codes.h"
#include "guard/guard_program.h"
#include "guard/guard_win.h"

namespace mirrow::guard {
namespace {

class WindowsGuardPlatform final : public GuardPlatform {
 public:
  explicit WindowsGuardPlatform(const ProcessFactsSource& facts) : facts_(facts) {}

  void write_output(std::string_view line) override { write_output_line(line); }
  int run_fixture() override { guard::run_fixture(); }
  int run_self_test() override { return guard::run_self_test(); }
  int run_recovery(const RecoveryArguments& arguments) override { return run_recovery_form(arguments); }
  ProcessTable collect_table() override { return facts_.collect(); }
  std::uint32_t own_pid() override { return GetCurrentProcessId(); }

  std::u16string protection_reason(const ProcessFacts& target, const ProcessTable& table,
                                   std::uint32_t anchor_pid) override {
    return facts_.verdict(target, table, anchor_pid);
  }

  bool pin(std::uint32_t target_pid, std::uint32_t owner_pid, std::uint64_t creation_ticks) override {
    return pin_processes(target_pid, owner_pid, creation_ticks, pinned_);
  }

  // While this handle lives, a recovery run knows that a guard still holds
  // the freeze; it goes with the platform, after the final line.
  bool take_freeze_mark(std::uint32_t target_pid, std::uint64_t creation_ticks) override {
    freeze_mark_ = guard::take_freeze_mark(target_pid, creation_ticks);
    return freeze_mark_.valid();
  }

  std::optional<JournalTail> read_journal_tail(std::u16string_view path, std::size_t max_bytes) override {
    return guard::read_journal_tail(path, max_bytes);
  }

  NtStatus freeze_pinned(std::uint32_t lease_seconds, std::u16string_view journal_path,
                         std::uint32_t heartbeat_timeout_ms) override {
    // A guard started in its host's process group receives the host's Ctrl+C;
    // the default handler would end it with the target suspended.
    install_console_ending_handler();
    return freeze_under_lease(pinned_.target.get(), pinned_.owner.get(), lease_seconds, journal_path, heartbeat_timeout_ms);
  }

 private:
  const ProcessFactsSource& facts_;
  PinnedProcesses pinned_;
  UniqueHandle freeze_mark_;
};

std::u16string real_verdict(const ProcessFacts& target, const ProcessTable& table, std::uint32_t anchor_pid) {
  return protection_reason(target, table, anchor_pid);
}

}  // namespace

ProcessFactsSource real_process_facts() { return ProcessFactsSource{&collect_process_table, &real_verdict}; }

int guard_main(int argc, wchar_t** argv, const ProcessFactsSource& facts) {
  try {
    std::vector<std::u16string> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(utf16(argv[i]));
    // The pinned handles close when the platform goes, before the exit.
    WindowsGuardPlatform platform(facts);
    return run_guard(arguments, platform);
  } catch (...) {
    // Only memory exhaustion gets here, and never while the target is
    // suspended: the freeze contains its own failures.
    return kExitUnexpectedFailure;
  }
}

}  // namespace mirrow::guard
