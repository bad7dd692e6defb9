#pragma once
// What the checks of mirrowctl check share: a scratch folder of their own
// and one engine of the Vantrel.dll they were handed.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/activity_lines.h"
#include "host/engine_health.h"
#include "host/libraries_win.h"

namespace mirrow::host {

// A fresh folder under the temporary directory, removed with its contents.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::u16string& path() const { return path_; }
  std::u16string operator/(std::u16string_view name) const { return path_ + u"\\" + std::u16string(name); }

 private:
  std::u16string path_;
};

// One engine for the length of a check.
class CheckEngine {
 public:
  explicit CheckEngine(VantrelLibrary& vantrel);
  ~CheckEngine();
  CheckEngine(const CheckEngine&) = delete;
  CheckEngine& operator=(const CheckEngine&) = delete;

  bool created() const { return engine_ != nullptr; }
  bool add_root(const std::u16string& path);
  std::uint32_t start(bool capture);
  void stop();

  Statistics statistics() const;
  std::string diagnostics() const;

  // Every record drained until a batch comes back empty (or unreadable).
  std::vector<ActivityRecord> drain();

 private:
  VantrelLibrary& vantrel_;
  vt_engine* engine_;
};

// Writes `bytes` to a new file at `path`; false when that fails.
bool write_file(const std::u16string& path, std::string_view bytes);

bool ends_with(const std::u16string& text, std::u16string_view tail);

}  // namespace mirrow::host
