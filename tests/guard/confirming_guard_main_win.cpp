// The guard as tests and benchmarks drive it past the verdict: the shipped
// program flow and lifecycle over process facts whose criticality is confirmed.
#include "tests/guard/confirming_facts_win.h"

int wmain(int argc, wchar_t** argv) {
  return mirrow::guard::guard_main(argc, argv, mirrow::guard::testing::confirming_process_facts());
}
