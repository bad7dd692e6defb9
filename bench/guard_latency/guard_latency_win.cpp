// How long a frozen target waits for its resume after each ending condition:
// the host's "R", the host closing the control pipe, and the host being
// killed. Each round freezes a real counting child through the guard program
// and times from the moment of the ending to the arrival of the final line.
// Goal: at most 150 ms each.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "support/child_process_win.h"

using namespace mirrow::guard::testing;

namespace {

constexpr int kRounds = 8;
constexpr double kGoalMs = 150.0;

double now_ms() {
  static const double ticks_per_ms = [] {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(frequency.QuadPart) / 1000.0;
  }();
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / ticks_per_ms;
}

struct Round {
  bool ok = false;
  double latency_ms = 0;
};

// Freezes the counter through `program` (a guard, or a host that starts
// one), ends the freeze with `end` after `settle_ms`, and times the final line.
Round one_round(const std::wstring& program, const std::vector<std::wstring>& arguments,
                const std::function<void(PipedProcess&)>& end, const char* expected_reason, DWORD settle_ms) {
  PipedProcess guard(program, arguments);
  if (!guard.started() || guard.next_line(15000) != std::optional<std::string>("{\"state\":\"frozen\"}")) return {};
  Sleep(settle_ms);
  const double ended_at = now_ms();
  end(guard);
  const std::optional<std::string> last = guard.next_line(5000);
  const double arrived_at = now_ms();
  guard.kill();
  if (!last || last->find(expected_reason) == std::string::npos) return {};
  return Round{true, arrived_at - ended_at};
}

bool report(const char* condition, std::vector<double> latencies, int failures) {
  std::sort(latencies.begin(), latencies.end());
  if (latencies.empty()) {
    std::printf("%-16s no successful round (%d failed)\n", condition, failures);
    return false;
  }
  const double worst = latencies.back();
  std::printf("%-16s rounds %zu  min %6.1f ms  median %6.1f ms  max %6.1f ms  failed %d  %s\n", condition,
              latencies.size(), latencies.front(), latencies[latencies.size() / 2], worst, failures,
              worst <= kGoalMs && failures == 0 ? "within goal" : "OVER GOAL");
  return worst <= kGoalMs && failures == 0;
}

bool measure(const char* condition, const std::wstring& program, const std::vector<std::wstring>& arguments,
             const std::function<void(PipedProcess&)>& end, const char* expected_reason) {
  std::vector<double> latencies;
  int failures = 0;
  for (int i = 0; i < kRounds; ++i) {
    // The guard's passes are 100 ms apart; spread the endings over a pass.
    const Round round = one_round(program, arguments, end, expected_reason, 150 + 100 * i / kRounds);
    if (round.ok) latencies.push_back(round.latency_ms);
    else ++failures;
  }
  return report(condition, latencies, failures);
}

}  // namespace

int main() {
  const std::wstring guard = windows_path_of(GUARD_UNDER_TEST_LINUX_PATH);
  const std::wstring helper = windows_path_of(GUARD_TEST_CHILD_LINUX_PATH);
  const std::wstring directory = fresh_temp_directory(L"guard-latency");
  Counter counter(directory, helper);
  const std::vector<std::wstring> target = target_arguments(counter, L"600");
  std::vector<std::wstring> hosted{L"host", guard};
  hosted.insert(hosted.end(), target.begin(), target.end());

  std::printf("guard latency: ending condition -> final line, %d rounds each, goal <= %.0f ms\n", kRounds, kGoalMs);
  bool all_within = true;
  all_within &= measure("pipe \"R\"", guard, target, [](PipedProcess& p) { p.send("R"); }, "\"requested\"");
  all_within &= measure("pipe closed", guard, target, [](PipedProcess& p) { p.close_input(); }, "\"control_closed\"");
  all_within &= measure("owner killed", helper, hosted, [](PipedProcess& p) { TerminateProcess(p.process(), 9); },
                        "\"owner_exited\"");
  return all_within ? 0 : 1;
}
