#include "tests/guard/confirming_facts_win.h"

#include "classifier/verdict.h"

namespace mirrow::guard::testing {
namespace {

ProcessTable collect_confirmed() {
  ProcessTable table = collect_process_table();
  for (auto& [pid, facts] : table) {
    facts.critical_known = true;
    facts.critical = false;
  }
  return table;
}

std::u16string real_verdict(const ProcessFacts& target, const ProcessTable& table, std::uint32_t anchor_pid) {
  return protection_reason(target, table, anchor_pid);
}

}  // namespace

ProcessFactsSource confirming_process_facts() { return ProcessFactsSource{&collect_confirmed, &real_verdict}; }

}  // namespace mirrow::guard::testing
