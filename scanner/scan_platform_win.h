#pragma once
// The scanner's file-system calls on Windows: FindFirstFileExW with the
// basic information level and large fetches, FindNextFileW, FindClose and
// GetFileAttributesW.
#include "scanner/scan_platform.h"

namespace mirrow {

const ScanPlatform& windows_scan_platform();

}  // namespace mirrow
