// mirrowctl recover: every freeze recorded in the user's freezes folder whose
// journal ends with the frozen line has lost its guard; the guard's recovery
// form resumes each such target, if it is still the instance that was frozen.
#include <windows.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "common/unique_handle.h"
#include "common/utf16.h"
#include "host/commands_win.h"
#include "host/console_win.h"
#include "host/freeze_records_win.h"
#include "host/text_table.h"

namespace mirrow::host {
namespace {

struct Journal {
  FreezeIdentity identity;
  std::u16string path;
};

// The journals in the folder, ordered by file name; none when it is missing.
std::vector<Journal> journals_in(const std::u16string& folder) {
  std::vector<Journal> journals;
  WIN32_FIND_DATAW entry{};
  const UniqueFindHandle find(FindFirstFileW(wide((folder + u"\\*" + std::u16string(kJournalSuffix)).c_str()), &entry));
  for (bool more = find.valid(); more; more = FindNextFileW(find.get(), &entry)) {
    const std::u16string name(reinterpret_cast<const char16_t*>(entry.cFileName));
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    if (const auto identity = identity_of_journal(name)) journals.push_back({*identity, folder + u"\\" + name});
  }
  std::ranges::sort(journals, {}, &Journal::path);
  return journals;
}

}  // namespace

int run_recover(const Request& request) {
  const auto folder = user_freezes_folder();
  if (!folder) return fail_with(kExitFailed, "LOCALAPPDATA is not set, so there is no freezes folder");
  const std::vector<Journal> journals = journals_in(*folder);

  TextTable table({{"PID", Align::right}, {"IMAGE"}, {"OUTCOME"}});
  bool failed = false;
  for (const Journal& journal : journals) {
    if (!journal_ends_frozen(journal.path)) continue;
    const std::optional<std::u16string> image = recorded_image(*folder, journal.identity);
    RecoveryResult result{RecoveryOutcome::would_recover, std::nullopt, {}};
    if (!image) {
      result = {RecoveryOutcome::failed, std::nullopt, "no image path recorded beside the journal"};
    } else if (!request.dry_run) {
      std::string problem;
      const auto recovered = run_recovery_form(journal.identity, *image, journal.path, problem);
      if (!recovered) return fail_with(kExitMissingLibrary, problem);
      result = *recovered;
    }
    failed = failed || recovery_failed(result);
    const std::u16string shown_image = image.value_or(u"?");
    if (request.json) {
      write_out(recovery_json_line(journal.identity, shown_image, journal.path, result) + "\n");
    } else {
      table.add_row({std::to_string(journal.identity.pid), utf8_from_utf16(shown_image), outcome_text(result)});
    }
  }
  if (!request.json) {
    const std::string where = std::to_string(journals.size()) + " journals in " + utf8_from_utf16(*folder) + "\n";
    write_out(table.row_count() == 0 ? "no process was left frozen: " + where : table.render() + where);
  }
  return failed ? kExitFailed : kExitOk;
}

}  // namespace mirrow::host
