// Every sequence of guards that freeze, are killed or end, and recovery runs
// on one target, over a model of that target: its suspension count, its
// journal and its freeze mark. Whatever happened, one recovery after the
// last guard is gone leaves the target running, and no line says "resumed"
// while the target still stands still.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "guard/exit_codes.h"
#include "guard/guard_program.h"
#include "guard/output_lines.h"
#include "guard/recovery.h"

namespace mirrow::guard {
namespace {

constexpr std::uint32_t kGuardPid = 900;
constexpr std::uint32_t kHostPid = 800;
constexpr std::uint32_t kTargetPid = 1234;
constexpr std::uint64_t kCreated = 133500000000000000ull;
constexpr std::u16string_view kImage = u"C:\\Games\\Some Tool.exe";
constexpr std::u16string_view kJournal = u"C:\\freezes\\1234-133500000000000000.jsonl";

struct Target {
  int suspensions = 0;
  std::string journal;
  int mark_handles = 0;
  std::vector<std::string> faults;

  void resume() { suspensions = std::max(0, suspensions - 1); }
  // A line that says the target runs again must be true when it is written.
  void append(std::string_view line) {
    journal += std::string(line) + "\n";
    if (line.find(R"("state":"resumed")") != std::string_view::npos && suspensions > 0)
      faults.push_back("\"" + std::string(line) + "\" while " + std::to_string(suspensions) + " suspension(s) stand");
  }
  std::optional<JournalTail> tail(std::size_t max_bytes) const {
    const std::size_t start = journal.size() > max_bytes ? journal.size() - max_bytes : 0;
    return JournalTail{journal.substr(start), start == 0};
  }
};

ProcessFacts facts(std::uint32_t pid, std::uint32_t parent, std::u16string_view path) {
  ProcessFacts entry;
  entry.pid = pid;
  entry.parent_pid = parent;
  entry.image_path = path;
  entry.creation_time = kCreated;
  return entry;
}

// A guard in the normal form. Its run returns once the target is frozen; the
// guard then lives on, holding its mark, until it is told to end or killed.
class ModelGuard : public GuardPlatform {
 public:
  explicit ModelGuard(Target& target) : target_(target) {}
  ~ModelGuard() override { release_mark(); }

  bool start() {
    const std::u16string arguments[] = {u"1234", u"133500000000000000", u"30", std::u16string(kImage),
                                        std::u16string(kJournal)};
    const int code = run_guard(arguments, *this);
    if (!suspended_) release_mark();
    EXPECT_TRUE(code == kExitFrozenAndResumed || code == kExitGuardRunning || code == kExitNeedsRecovery) << code;
    return suspended_;
  }
  // "R" arrives: the one resume and the final line, then the mark goes.
  void finish() {
    target_.resume();
    target_.append(final_state_line(EndReason::requested, 0));
    release_mark();
  }
  // Killed from outside: the system closes the mark, nothing else happens.
  void kill() { release_mark(); }

  void write_output(std::string_view) override {}
  int run_fixture() override { return 101; }
  int run_self_test() override { return 102; }
  int run_recovery(const RecoveryArguments&) override { return 103; }
  ProcessTable collect_table() override {
    return {{kGuardPid, facts(kGuardPid, kHostPid, u"C:\\Mirrow\\FreezeGuard.exe")},
            {kHostPid, facts(kHostPid, 4, u"C:\\Mirrow\\Mirrow.exe")},
            {kTargetPid, facts(kTargetPid, 77, kImage)}};
  }
  std::uint32_t own_pid() override { return kGuardPid; }
  std::u16string protection_reason(const ProcessFacts&, const ProcessTable&, std::uint32_t) override { return {}; }
  bool pin(std::uint32_t, std::uint32_t, std::uint64_t) override { return true; }
  bool take_freeze_mark(std::uint32_t, std::uint64_t) override {
    holds_mark_ = true;
    return ++target_.mark_handles == 1;
  }
  std::optional<JournalTail> read_journal_tail(std::u16string_view, std::size_t max_bytes) override {
    return target_.tail(max_bytes);
  }
  NtStatus freeze_pinned(std::uint32_t, std::u16string_view, std::uint32_t) override {
    ++target_.suspensions;
    suspended_ = true;
    target_.append(kFrozenLine);
    return 0;
  }

 private:
  void release_mark() {
    if (holds_mark_) --target_.mark_handles;
    holds_mark_ = false;
  }

  Target& target_;
  bool holds_mark_ = false;
  bool suspended_ = false;
};

class ModelRecovery : public RecoveryPlatform {
 public:
  explicit ModelRecovery(Target& target) : target_(target) {}

  void run() {
    run_recovery(RecoveryArguments{kTargetPid, kCreated, std::u16string(kImage), std::u16string(kJournal)}, *this);
  }

  bool freeze_mark_exists(std::u16string_view) override { return target_.mark_handles > 0; }
  std::optional<JournalTail> read_journal_tail(std::u16string_view, std::size_t max_bytes) override {
    return target_.tail(max_bytes);
  }
  std::optional<std::u16string> pin_target(std::uint32_t, std::uint64_t) override { return std::u16string(kImage); }
  NtStatus resume_pinned() override {
    target_.resume();
    return 0;
  }
  void append_to_journal(std::u16string_view, std::string_view line) override {
    target_.append(line.starts_with('\n') ? line.substr(1) : line);
  }
  void write_output(std::string_view) override {}

 private:
  Target& target_;
};

// g: a new guard freezes (or refuses); k: the oldest live guard is killed;
// f: it is told to resume; r: a recovery run.
std::string play(std::string_view actions) {
  Target target;
  std::deque<std::unique_ptr<ModelGuard>> live;
  for (const char action : actions) {
    if (action == 'g') {
      auto guard = std::make_unique<ModelGuard>(target);
      if (guard->start()) live.push_back(std::move(guard));
    } else if (action == 'r') {
      ModelRecovery(target).run();
    } else if (!live.empty()) {
      if (action == 'k') live.front()->kill();
      if (action == 'f') live.front()->finish();
      live.pop_front();
    }
  }
  for (auto& guard : live) guard->kill();
  live.clear();
  ModelRecovery(target).run();
  if (target.suspensions > 0) target.faults.push_back("still frozen after the last recovery");
  std::string faults;
  for (const std::string& fault : target.faults) faults += fault + "; ";
  return faults;
}

TEST(StrandedFreeze, a_second_guard_after_a_killed_one_leaves_nothing_frozen_and_says_no_false_resume) {
  EXPECT_EQ(play("gkgf"), "");
  EXPECT_EQ(play("gkgfr"), "");
  EXPECT_EQ(play("gggfkf"), "");
}

TEST(StrandedFreeze, no_sequence_of_guards_kills_and_recoveries_hides_a_frozen_target) {
  constexpr std::string_view kActions = "gkfr";
  constexpr int kLength = 6;
  int sequences = 1;
  for (int i = 0; i < kLength; ++i) sequences *= static_cast<int>(kActions.size());
  for (int n = 0; n < sequences; ++n) {
    std::string actions;
    for (int rest = n, i = 0; i < kLength; ++i, rest /= static_cast<int>(kActions.size()))
      actions.push_back(kActions[static_cast<std::size_t>(rest) % kActions.size()]);
    EXPECT_EQ(play(actions), "") << actions;
  }
}

}  // namespace
}  // namespace mirrow::guard
