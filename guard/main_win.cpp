// FreezeGuard.exe: suspends one process under a lease kept alive by its host.
#include "guard/guard_win.h"

int wmain(int argc, wchar_t** argv) {
  return mirrow::guard::guard_main(argc, argv, mirrow::guard::real_process_facts());
}
