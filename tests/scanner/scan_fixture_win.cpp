#include "tests/scanner/scan_fixture_win.h"

#include <stdexcept>

#include "common/json_text.h"
#include "common/lowercase.h"
#include "common/utf16.h"
#include "support/program_folder_win.h"

namespace mirrow::scan_test {
namespace {

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + " failed: " + std::to_string(GetLastError()));
}

}  // namespace

ScanExports::ScanExports()
    : create(api.vt_scan_create), exclude(api.vt_scan_exclude), next(api.vt_scan_next), destroy(api.vt_scan_destroy) {}

ScanSession::ScanSession(const ScanExports& exports, const std::wstring& root)
    : exports_(exports), scanner_(exports.create(root.c_str())) {}

ScanSession::~ScanSession() { exports_.destroy(scanner_); }

std::string ScanSession::next() {
  uint64_t length = 12345;
  const char* text = exports_.next(scanner_, &length);
  if (text == nullptr) throw std::runtime_error("vt_scan_next failed");
  if (std::char_traits<char>::length(text) != length) throw std::runtime_error("batch length mismatch");
  return std::string(text, length);
}

std::vector<std::string> ScanSession::until_done(std::size_t limit) {
  std::vector<std::string> batches;
  while (batches.size() < limit) {
    batches.push_back(next());
    if (batches.back().find("\"done\":true") != std::string::npos) break;
  }
  return batches;
}

TempTree::TempTree(std::wstring parent) {
  if (parent.empty()) {
    wchar_t temp[MAX_PATH + 1];
    check(GetTempPathW(MAX_PATH + 1, temp) != 0, "GetTempPathW");
    parent = temp;
  }
  if (!parent.ends_with(L'\\')) parent.push_back(L'\\');
  static unsigned counter = 0;
  root_ = parent + L"scn-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
  remove_tree(root_);
  check(CreateDirectoryW(root_.c_str(), nullptr), "CreateDirectoryW");
}

TempTree::~TempTree() { remove_tree(root_); }

void TempTree::directory(const std::wstring& relative) const {
  check(CreateDirectoryW(path(relative).c_str(), nullptr), "CreateDirectoryW");
}

void TempTree::file(const std::wstring& relative, std::size_t size) const {
  UniqueHandle handle(CreateFileW(path(relative).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
  check(handle.valid(), "CreateFileW");
  const std::string content(size, 'x');
  DWORD written = 0;
  check(size == 0 || WriteFile(handle.get(), content.data(), static_cast<DWORD>(size), &written, nullptr),
        "WriteFile");
}

void TempTree::remove(const std::wstring& relative) const { remove_tree(path(relative)); }

std::string expected_path_text(const std::wstring& path) {
  std::u16string normal(utf16(path.c_str()));
  lower_in_place(normal);
  std::string quoted;
  json_quote(quoted, normal);
  return quoted.substr(1, quoted.size() - 2);
}

std::int64_t file_time_value(const FILETIME& time) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

}  // namespace mirrow::scan_test
