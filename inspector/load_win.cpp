#include "common/filetime_win.h"
#include "inspector/load_win.h"

#include <windows.h>

#include <mutex>
#include <optional>
#include <vector>

#include "classifier/collection_calls.h"
#include "common/scope_exit.h"
#include "inspector/load_report.h"

namespace mirrow::inspector {
namespace {

std::mutex load_lock;
LoadSample load_sample;  // guarded by load_lock

// nullopt when the system times cannot be read; the stored sample is then
// left as it was.
std::optional<double> sample_load() {
  FILETIME idle{}, kernel{}, user{};
  if (!GetSystemTimes(&idle, &kernel, &user)) return std::nullopt;
  return take_load_sample(load_sample, filetime_value(idle), filetime_value(kernel) + filetime_value(user));
}

// One name per snapshot entry, in snapshot order, duplicates kept.
std::vector<std::u16string> process_names() {
  const CollectionCalls& calls = windows_collection_calls();
  std::vector<std::u16string> names;
  void* snapshot = calls.take_snapshot();
  if (snapshot == nullptr) return names;
  const auto close_snapshot = scope_exit([&] { calls.close_snapshot(snapshot); });
  SnapshotEntry entry;
  for (bool more = calls.read_first_entry(snapshot, entry); more; more = calls.read_next_entry(snapshot, entry)) {
    names.push_back(entry.exe_name);
  }
  return names;
}

}  // namespace

void write_load_report(std::string& out) {
  const std::lock_guard<std::mutex> hold(load_lock);
  const std::optional<double> load = sample_load();
  append_load_report(out, load, process_names());
}

}  // namespace mirrow::inspector
