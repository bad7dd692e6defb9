// The ordered freeze rules. Each rule looks only at the facts, the table of
// the same pass, the anchor and the caller's environment; the first rule that
// applies names the reason. Whatever cannot be confirmed is refused.
#include "classifier/verdict.h"

#include <unordered_set>

namespace mirrow {
namespace {

constexpr char16_t kUnconfirmedMetadata[] = u"Нет подтверждённых метаданных";
constexpr char16_t kCriticalOrOwn[] = u"Критический / собственный процесс";
constexpr char16_t kForeignSessionOrUser[] = u"Служба, другая сессия или другой пользователь";
constexpr char16_t kWindowsComponent[] = u"Компонент Windows";
constexpr char16_t kProtectedName[] = u"Защита, игра или компонент Mirrow";
constexpr char16_t kVisibleWindow[] = u"Есть видимое окно";
constexpr char16_t kHasChildren[] = u"Есть дочерние процессы";
constexpr char16_t kAncestorOfAnchor[] = u"Предок Mirrow";
constexpr char16_t kChainBroken[] = u"Цепочка запуска неполна / PID переиспользован";
constexpr char16_t kStartedByUserApp[] = u"Косвенно запущен пользователем";
constexpr char16_t kChainUnconfirmed[] = u"Не удалось подтвердить цепочку запуска";

// Both parent walks stop after this many steps, so a corrupt or cyclic table
// cannot keep the verdict busy.
constexpr int kMaxWalkSteps = 64;

// Ids 0 to 4 are the idle process and the kernel's System process.
constexpr std::uint32_t kFirstOrdinaryPid = 5;

bool metadata_confirmed(const ProcessFacts& facts) {
  return facts.critical_known && facts.creation_time != 0 && !facts.image_path.empty();
}

bool is_critical_or_own(const ProcessFacts& facts, std::uint32_t anchor_pid,
                        const VerdictEnvironment& environment) {
  return facts.pid < kFirstOrdinaryPid || facts.pid == anchor_pid ||
         facts.pid == environment.own_pid || facts.critical;
}

bool is_foreign(const ProcessFacts& facts, const VerdictEnvironment& environment) {
  return facts.session_id == 0 || facts.session_id != environment.own_session || !facts.same_user;
}

// A directory test, not a name prefix: the directory gets one trailing
// back-slash (unless it already ends in one, as a drive root does), so a
// sibling such as C:\WindowsApps does not count. An unreadable Windows
// directory matches nothing rather than every path that starts with "\".
bool is_windows_component(const ProcessFacts& facts, const VerdictEnvironment& environment) {
  if (environment.windows_directory.empty()) return false;
  std::u16string directory = to_lower(environment.windows_directory);
  if (directory.back() != u'\\') directory.push_back(u'\\');
  return to_lower(facts.image_path).starts_with(directory);
}

// A child is another entry naming this id as its parent that was created no
// earlier than this process; an older one belonged to an earlier holder of the
// id, and one without a creation time proves nothing. An entry naming itself
// as its parent is a broken link, which the launch-chain walk reports.
bool has_children(const ProcessFacts& facts, const ProcessTable& table) {
  for (const auto& [pid, entry] : table) {
    if (pid != facts.pid && entry.parent_pid == facts.pid && entry.creation_time != 0 &&
        entry.creation_time >= facts.creation_time) {
      return true;
    }
  }
  return false;
}

// Whether the process is the anchor's parent, grandparent and so on (the
// anchor and at most 63 ancestors). Creation times are not checked here:
// refusing too much is the safe side.
bool is_ancestor_of_anchor(const ProcessFacts& facts, const ProcessTable& table,
                           std::uint32_t anchor_pid) {
  std::unordered_set<std::uint32_t> visited;
  std::uint32_t current = anchor_pid;
  int steps = 0;
  while (current != 0) {
    if (!visited.insert(current).second) return false;
    if (current == facts.pid) return true;
    const auto entry = table.find(current);
    if (entry == table.end()) return false;
    current = entry->second.parent_pid;
    if (++steps == kMaxWalkSteps) return false;
  }
  return false;
}

// Walks the parents up to a root. Every link must be a real parent (known,
// created no later than its child); the walk refuses as soon as it passes a
// user-facing application, and allows only a chain confirmed to its root.
std::u16string launch_chain_reason(const ProcessFacts& facts, const ProcessTable& table) {
  std::unordered_set<std::uint32_t> visited;
  std::uint32_t current = facts.parent_pid;
  std::uint64_t child_time = facts.creation_time;
  int steps = 0;
  while (current != 0) {
    if (!visited.insert(current).second) return kChainUnconfirmed;
    const auto found = table.find(current);
    if (found == table.end()) return kChainBroken;
    const ProcessFacts& parent = found->second;
    if (parent.creation_time == 0 || parent.creation_time > child_time) return kChainBroken;
    if (is_known_user_app(parent.exe_name)) return kStartedByUserApp;
    child_time = parent.creation_time;
    current = parent.parent_pid;
    if (++steps == kMaxWalkSteps) return current != 0 ? kChainUnconfirmed : u"";
  }
  return u"";
}

}  // namespace

std::u16string protection_reason(const ProcessFacts& facts, const ProcessTable& table,
                                 std::uint32_t anchor_pid, const VerdictEnvironment& environment) {
  if (!metadata_confirmed(facts)) return kUnconfirmedMetadata;
  if (is_critical_or_own(facts, anchor_pid, environment)) return kCriticalOrOwn;
  if (is_foreign(facts, environment)) return kForeignSessionOrUser;
  if (is_windows_component(facts, environment)) return kWindowsComponent;
  if (has_protected_name_fragment(facts.exe_name)) return kProtectedName;
  if (facts.has_visible_window) return kVisibleWindow;
  if (has_children(facts, table)) return kHasChildren;
  if (is_ancestor_of_anchor(facts, table, anchor_pid)) return kAncestorOfAnchor;
  return launch_chain_reason(facts, table);
}

}  // namespace mirrow
