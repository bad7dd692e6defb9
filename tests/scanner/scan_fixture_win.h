#pragma once
// What the scanner's Wine tests share: Vantrel.dll loaded and its four
// scanner exports bound by name, as a host does; a temporary directory tree
// that removes itself; and a walk driven to its end through the exports.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "support/library_api_win.h"
#include "support/temp_dir_win.h"
#include "vantrel.h"

namespace mirrow::scan_test {

struct ScanExports {
  ScanExports();

  testing::VantrelApi api;
  vt_scanner*(WINAPI* create)(const wchar_t*) = nullptr;
  void(WINAPI* exclude)(vt_scanner*, const wchar_t*) = nullptr;
  const char*(WINAPI* next)(vt_scanner*, uint64_t*) = nullptr;
  void(WINAPI* destroy)(vt_scanner*) = nullptr;
};

// One scanner, destroyed with this object.
class ScanSession {
 public:
  ScanSession(const ScanExports& exports, const std::wstring& root);
  ~ScanSession();
  ScanSession(const ScanSession&) = delete;
  ScanSession& operator=(const ScanSession&) = delete;

  bool created() const { return scanner_ != nullptr; }
  void exclude(const std::wstring& path) { exports_.exclude(scanner_, path.c_str()); }
  // One vt_scan_next; the text is checked against the length it came with.
  std::string next();
  // Batches until one says done (at most limit).
  std::vector<std::string> until_done(std::size_t limit = 100000);

 private:
  const ScanExports& exports_;
  vt_scanner* scanner_;
};

// A fresh directory under a parent (the Windows temp directory by default),
// removed with everything below it at the end.
class TempTree {
 public:
  explicit TempTree(std::wstring parent = {});
  ~TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  const std::wstring& root() const { return root_; }
  std::wstring path(const std::wstring& relative) const { return root_ + L"\\" + relative; }
  void directory(const std::wstring& relative) const;
  void file(const std::wstring& relative, std::size_t size = 0) const;
  void remove(const std::wstring& relative) const;

 private:
  std::wstring root_;
};

using mirrow::testing::remove_tree;

// The record text a path should appear as: normalised and JSON-quoted
// without the surrounding quotes.
std::string expected_path_text(const std::wstring& path);

std::int64_t file_time_value(const FILETIME& time);

}  // namespace mirrow::scan_test
