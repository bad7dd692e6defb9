// Directory scanner exports.
#include <windows.h>

#include "vantrel.h"

extern "C" {

vt_scanner* WINAPI vt_scan_create(const wchar_t*) { return nullptr; }
void WINAPI vt_scan_exclude(vt_scanner*, const wchar_t*) {}
const char* WINAPI vt_scan_next(vt_scanner*, uint64_t* out_length) {
  *out_length = 0;
  return nullptr;
}
void WINAPI vt_scan_destroy(vt_scanner*) {}

}  // extern "C"
