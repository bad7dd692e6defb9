/* The public header must be usable from plain C. */
#include "vantrel.h"

typedef uint32_t(VANTREL_CALL* abi_fn)(void);

int vantrel_header_is_c(void) {
  abi_fn f = 0;
  vt_engine* engine = 0;
  (void)engine;
  return f == 0 && VT_KIND_RENAMED_TO == 10;
}
