#include "host/freeze_records_win.h"

#include <windows.h>

#include "common/unique_handle.h"
#include "common/utf16.h"
#include "guard/guard_win.h"
#include "host/guard_process_win.h"

namespace mirrow::host {
namespace {

constexpr DWORD kImageFileLimit = 64 * 1024;
constexpr DWORD kPollMs = 100;
// The recovery form makes a handful of calls; a guard that takes longer is stuck.
constexpr std::uint64_t kRecoveryPatienceMs = 30000;

bool make_folder(const std::u16string& path) {
  return CreateDirectoryW(wide(path.c_str()), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

std::u16string record_file(const std::u16string& folder, const FreezeIdentity& identity, std::u16string_view suffix) {
  return folder + u"\\" + record_stem(identity) + std::u16string(suffix);
}

bool write_whole_file(const std::u16string& path, std::string_view bytes) {
  const UniqueHandle file(
      CreateFileW(wide(path.c_str()), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return file && WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

}  // namespace

std::optional<std::u16string> user_freezes_folder() {
  std::u16string value(32768, u'\0');
  const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", wide(value.data()), static_cast<DWORD>(value.size()));
  if (length == 0 || length >= value.size()) return std::nullopt;
  value.resize(length);
  return freezes_folder(value);
}

std::optional<std::u16string> keep_freeze_record(const FreezeTarget& target, std::string& problem) {
  const auto folder = user_freezes_folder();
  if (!folder) {
    problem = "LOCALAPPDATA is not set";
    return std::nullopt;
  }
  const std::u16string parent = folder->substr(0, folder->find_last_of(u'\\'));
  const FreezeIdentity identity{target.pid, target.created};
  // The image file comes first: a journal without it could not be recovered.
  if (!make_folder(parent) || !make_folder(*folder) ||
      !write_whole_file(record_file(*folder, identity, kImageSuffix), image_record_text(target.path))) {
    problem = "cannot write the freeze record in " + utf8_from_utf16(*folder) + " (error " +
              std::to_string(GetLastError()) + ")";
    return std::nullopt;
  }
  return record_file(*folder, identity, kJournalSuffix);
}

void drop_record_without_journal(const std::u16string& journal) {
  if (GetFileAttributesW(wide(journal.c_str())) != INVALID_FILE_ATTRIBUTES) return;
  const std::u16string image = journal.substr(0, journal.size() - kJournalSuffix.size()) + std::u16string(kImageSuffix);
  DeleteFileW(wide(image.c_str()));
}

std::optional<std::u16string> recorded_image(const std::u16string& folder, const FreezeIdentity& identity) {
  const std::u16string path = record_file(folder, identity, kImageSuffix);
  const UniqueHandle file(CreateFileW(wide(path.c_str()), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  std::string contents(kImageFileLimit, '\0');
  DWORD read = 0;
  if (!ReadFile(file.get(), contents.data(), kImageFileLimit, &read, nullptr)) return std::nullopt;
  contents.resize(read);
  return image_path_of_record(contents);
}

bool journal_ends_frozen(const std::u16string& journal) {
  const auto tail = guard::read_journal_tail(journal, guard::kJournalTailBytes);
  return tail && guard::journal_ends_frozen(*tail);
}

std::optional<RecoveryResult> run_recovery_form(const FreezeIdentity& identity, const std::u16string& image,
                                                const std::u16string& journal, std::string& problem) {
  auto guard = start_guard(recovery_arguments(identity, image, journal), problem);
  if (!guard) return std::nullopt;
  std::optional<DWORD> code;
  for (std::uint64_t waited = 0; !code && waited < kRecoveryPatienceMs; waited += kPollMs) code = guard->exit_code(kPollMs);
  if (!code) return RecoveryResult{RecoveryOutcome::failed, std::nullopt, "the guard did not answer"};
  return read_recovery_answer(*code, guard->take_remaining_lines());
}

}  // namespace mirrow::host
