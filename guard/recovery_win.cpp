// The recovery form over the real system: the freeze mark as a named mutex,
// the journal, the pin of the normal form and the native process-wide resume.
#include "classifier/collection_calls.h"
#include "guard/guard_win.h"
#include "guard/windows_freeze_platform_win.h"

namespace mirrow::guard {
namespace {

class WindowsRecoveryPlatform final : public RecoveryPlatform {
 public:
  bool freeze_mark_exists(std::u16string_view name) override {
    const std::u16string terminated(name);
    const UniqueHandle mark(OpenMutexW(SYNCHRONIZE, FALSE, wide(terminated.c_str())));
    // Only "no such object" proves that no guard holds the freeze; a mark
    // that exists but cannot be opened (another user's rights) still stands.
    return mark.valid() || GetLastError() != ERROR_FILE_NOT_FOUND;
  }

  std::optional<JournalTail> read_journal_tail(std::u16string_view path, std::size_t max_bytes) override {
    return guard::read_journal_tail(path, max_bytes);
  }

  std::optional<std::u16string> pin_target(std::uint32_t pid, std::uint64_t creation_ticks) override {
    target_ = guard::pin_target(pid, creation_ticks);
    // A process that has ended is gone even while some handle keeps its
    // object, and with it its id and creation time, alive.
    if (!target_ || WaitForSingleObject(target_.get(), 0) == WAIT_OBJECT_0) return std::nullopt;
    std::u16string image_path;
    if (!windows_collection_calls().image_path_of(target_.get(), image_path)) return std::nullopt;
    return image_path;
  }

  NtStatus resume_pinned() override {
    const auto resume = WindowsFreezePlatform::ntdll_entry("NtResumeProcess");
    if (resume == nullptr) return kStatusEntryPointsMissing;
    return resume(target_.get());
  }

  void append_to_journal(std::u16string_view path, std::string_view line) override { append_journal_line(path, line); }
  void write_output(std::string_view line) override { write_output_line(line); }

 private:
  UniqueHandle target_;
};

}  // namespace

UniqueHandle take_freeze_mark(std::uint32_t target_pid, std::uint64_t creation_ticks) {
  const std::u16string name = freeze_mark_name(target_pid, creation_ticks);
  // Not owned, only named: the mark exists while any guard keeps a handle,
  // and the system closes it with the guard however that ends. Creating a
  // named object is atomic, so of two guards starting at once only one
  // finds the mark new.
  SetLastError(ERROR_SUCCESS);
  UniqueHandle mark(CreateMutexW(nullptr, FALSE, wide(name.c_str())));
  if (GetLastError() == ERROR_ALREADY_EXISTS) mark.reset();
  return mark;
}

int run_recovery_form(const RecoveryArguments& arguments) {
  WindowsRecoveryPlatform platform;
  return run_recovery(arguments, platform);
}

}  // namespace mirrow::guard
