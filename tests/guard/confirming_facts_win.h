#pragma once
// Process facts for the test builds of the guard: the real collection, with
// every process's criticality confirmed as "not critical". Wine has no
// criticality query, so without this every real process is refused before
// the guard could pin, freeze and resume it. The rest of the verdict runs
// unchanged on the real facts.
#include "guard/guard_win.h"

namespace mirrow::guard::testing {

ProcessFactsSource confirming_process_facts();

}  // namespace mirrow::guard::testing
