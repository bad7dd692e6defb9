// Directory scanner exports. Each contains every exception: a failed step or
// exclusion is counted in the scanner's errors, a failed creation returns null.
#include <windows.h>

#include <memory>
#include <new>
#include <string>

#include "common/unique_handle.h"
#include "scanner/scan_driver.h"
#include "scanner/scan_platform_win.h"
#include "scanner/volume_access_win.h"
#include "vantrel.h"

using mirrow::ScanDriver;

namespace {

// What a scanner handle points to: the driver, the image standing for the
// root's volume when one was given, and the last way text handed out.
struct ScannerObject {
  ScannerObject(const wchar_t* root, bool walk_only, const wchar_t* image, uint64_t image_offset)
      : image_access(image ? std::make_unique<mirrow::ImageVolumeAccess>(std::u16string(mirrow::utf16(image)),
                                                                           image_offset)
                           : nullptr),
        driver(std::u16string(mirrow::utf16(root)), mirrow::windows_scan_platform(), volumes(walk_only)) {}

  const mirrow::VolumeAccess* volumes(bool walk_only) const {
    if (walk_only) return nullptr;
    return image_access ? &image_access->access() : &mirrow::windows_volume_access();
  }

  std::unique_ptr<mirrow::ImageVolumeAccess> image_access;
  ScanDriver driver;
  std::string way_text;
};

ScannerObject* object_of(vt_scanner* handle) { return reinterpret_cast<ScannerObject*>(handle); }

ScanDriver* scanner_of(vt_scanner* handle) {
  ScannerObject* object = object_of(handle);
  return object ? &object->driver : nullptr;
}

vt_scanner* create(const wchar_t* root, bool walk_only, const wchar_t* image, uint64_t image_offset) {
  if (root == nullptr) return nullptr;
  try {
    return reinterpret_cast<vt_scanner*>(new ScannerObject(root, walk_only, image, image_offset));
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

extern "C" {

vt_scanner* WINAPI vt_scan_create(const wchar_t* root) { return create(root, false, nullptr, 0); }

vt_scanner* WINAPI vt_scan_create_with(const wchar_t* root, uint32_t way, const wchar_t* image,
                                       uint64_t image_offset) {
  if (way > 1) return nullptr;
  return create(root, way == 1, image, image_offset);
}

void WINAPI vt_scan_exclude(vt_scanner* handle, const wchar_t* path) {
  ScanDriver* scanner = scanner_of(handle);
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
  ScanDriver* scanner = scanner_of(handle);
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

const char* WINAPI vt_scan_way(vt_scanner* handle, uint64_t* out_length) {
  if (out_length != nullptr) *out_length = 0;
  ScannerObject* object = object_of(handle);
  if (object == nullptr || out_length == nullptr) return nullptr;
  try {
    object->way_text = object->driver.way_text();
    *out_length = object->way_text.size();
    return object->way_text.c_str();
  } catch (...) {
    return nullptr;
  }
}

void WINAPI vt_scan_destroy(vt_scanner* handle) { delete object_of(handle); }

}  // extern "C"
