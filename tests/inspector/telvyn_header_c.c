/* The public header has to compile as C as well: this file is built as C
 * into the DLL tests. sizeof does not evaluate its operand, so nothing here
 * links against the exports. */
#include "telvyn.h"

int telvyn_header_pointer_bytes_in_c(void) {
  return (int)(sizeof(&tl_snapshot) + sizeof(&tl_memory) + sizeof(&tl_load) + sizeof(&tl_crashes));
}
