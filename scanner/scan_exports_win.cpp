// Directory scanner exports. Each contains every exception: a failed step or
// exclusion is counted in the scanner's errors, a failed creation returns null.
#include <windows.h>

#include <new>
#include <string>

#include "common/unique_handle.h"
#include "scanner/scan_platform_win.h"
#include "scanner/scanner.h"
#include "vantrel.h"

using mirrow::Scanner;

namespace {

Scanner* scanner_of(vt_scanner* handle) { return reinterpret_cast<Scanner*>(handle); }

}  // namespace

extern "C" {

vt_scanner* WINAPI vt_scan_create(const wchar_t* root) {
  if (root == nullptr) return nullptr;
  try {
    auto* scanner = new Scanner(std::u16string(mirrow::utf16(root)), mirrow::windows_scan_platform());
    return reinterpret_cast<vt_scanner*>(scanner);
  } catch (...) {
    return nullptr;
  }
}

void WINAPI vt_scan_exclude(vt_scanner* handle, const wchar_t* path) {
  Scanner* scanner = scanner_of(handle);
  if (scanner == nullptr) return;
  if (path == nullptr) {
    scanner->count_error();
    return;
  }
  try {
    scanner->exclude(std::u16string(mirrow::utf16(path)));
  } catch (...) {
    scanner->count_error();
  }
}

const char* WINAPI vt_scan_next(vt_scanner* handle, uint64_t* out_length) {
  if (out_length != nullptr) *out_length = 0;
  Scanner* scanner = scanner_of(handle);
  if (scanner == nullptr) return nullptr;
  // Without a place for the length the host could not read the batch: the
  // walk is not advanced, so nothing is lost.
  if (out_length == nullptr) {
    scanner->count_error();
    return nullptr;
  }
  try {
    const std::string& batch = scanner->step();
    *out_length = batch.size();
    return batch.c_str();
  } catch (...) {
    scanner->count_error();
    return nullptr;
  }
}

void WINAPI vt_scan_destroy(vt_scanner* handle) { delete scanner_of(handle); }

}  // extern "C"
