#include "host/check_engine_win.h"

#include <windows.h>

#include "common/unique_handle.h"
#include "common/utf16.h"

namespace mirrow::host {
namespace {

std::u16string utf16_number(std::uint64_t value) { return utf16_from_utf8(std::to_string(value)); }

void remove_tree(const std::u16string& folder) {
  WIN32_FIND_DATAW entry;
  const HANDLE find = FindFirstFileW(wide((folder + u"\\*").c_str()), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::u16string name(utf16(entry.cFileName));
      if (name == u"." || name == u"..") continue;
      const std::u16string full = folder + u"\\" + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) remove_tree(full);
      else DeleteFileW(wide(full.c_str()));
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryW(wide(folder.c_str()));
}

}  // namespace

ScratchFolder::ScratchFolder() {
  wchar_t base[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH + 1, base);
  static unsigned serial = 0;
  path_ = std::u16string(utf16(base)) + u"mirrowctl-check-" + utf16_number(GetCurrentProcessId()) + u"-" +
          utf16_number(GetTickCount64()) + u"-" + utf16_number(++serial);
  CreateDirectoryW(wide(path_.c_str()), nullptr);
  // The temporary directory may be given in its short (8.3) form; the
  // kernel names files by their long names.
  std::vector<wchar_t> long_form(32768);
  const DWORD length = GetLongPathNameW(wide(path_.c_str()), long_form.data(), static_cast<DWORD>(long_form.size()));
  if (length != 0 && length < long_form.size()) path_.assign(utf16(long_form.data()), length);
}

ScratchFolder::~ScratchFolder() { remove_tree(path_); }

CheckEngine::CheckEngine(VantrelLibrary& vantrel) : vantrel_(vantrel), engine_(vantrel.vt_create()) {}

CheckEngine::~CheckEngine() {
  if (engine_ != nullptr) vantrel_.vt_destroy(engine_);
}

bool CheckEngine::add_root(const std::u16string& path) { return vantrel_.vt_root(engine_, 1, wide(path.c_str()), 0) == 0; }

std::uint32_t CheckEngine::start(bool capture) { return vantrel_.vt_start(engine_, capture ? 1 : 0, 0); }

void CheckEngine::stop() { vantrel_.vt_stop(engine_); }

Statistics CheckEngine::statistics() const { return engine_statistics(vantrel_, engine_); }

std::string CheckEngine::diagnostics() const { return engine_diagnostics(vantrel_, engine_); }

std::vector<ActivityRecord> CheckEngine::drain() {
  std::vector<ActivityRecord> records;
  for (int batch = 0; batch < 1000; ++batch) {
    std::uint64_t length = 0;
    const char* text = vantrel_.vt_drain(engine_, &length);
    const auto parsed = text == nullptr ? std::nullopt : parse_drain(std::string_view(text, length));
    if (!parsed || parsed->records.empty()) break;
    records.insert(records.end(), parsed->records.begin(), parsed->records.end());
  }
  return records;
}

bool write_file(const std::u16string& path, std::string_view bytes) {
  const UniqueHandle file(CreateFileW(wide(path.c_str()), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

bool ends_with(const std::u16string& text, std::u16string_view tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace mirrow::host
