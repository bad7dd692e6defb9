// mirrowctl scan: drives Vantrel's scanner to the end.
#include <windows.h>

#include "common/clock.h"
#include "common/scope_exit.h"
#include "common/unique_handle.h"
#include "common/utf16.h"
#include "host/commands_win.h"
#include "host/console_win.h"
#include "host/libraries_win.h"
#include "host/scan_report.h"
#include "host/scan_tally.h"

namespace mirrow::host {
namespace {

// Redrawn in place on a console; on a pipe or file one line per second.
class ProgressLine {
 public:
  explicit ProgressLine(std::uint64_t started) : started_(started), shown_(started), console_(error_is_console()) {}

  void show(const ScanTally& tally, bool final_line) {
    const std::uint64_t now = tick_ms();
    if (!final_line && now - shown_ < (console_ ? 200u : 1000u)) return;
    shown_ = now;
    const std::string text = scan_progress_line(tally.files(), tally.bytes(), now - started_);
    if (console_) {
      std::string padded = "\r" + text;
      if (text.size() < width_) padded.append(width_ - text.size(), ' ');
      width_ = text.size();
      write_err(padded + (final_line ? "\n" : ""));
    } else {
      write_err(text + "\n");
    }
  }

 private:
  std::uint64_t started_;
  std::uint64_t shown_;
  bool console_;
  std::size_t width_ = 0;
};

ScanWayFacts scan_way(const VantrelLibrary& vantrel, vt_scanner* scanner) {
  std::uint64_t length = 0;
  const char* text = vantrel.vt_scan_way(scanner, &length);
  return text ? parse_scan_way(std::string_view(text, length)) : ScanWayFacts{};
}

}  // namespace

int run_scan(const Request& request) {
  std::string problem;
  const auto vantrel = load_vantrel(problem);
  if (!vantrel) return fail_with(kExitMissingLibrary, problem);

  const std::u16string root = absolute_path(request.directories.front());
  const std::u16string image = request.ntfs_image.empty() ? std::u16string() : absolute_path(request.ntfs_image);
  vt_scanner* scanner = vantrel->vt_scan_create_with(wide(root.c_str()), request.walk ? 1 : 0,
                                                     image.empty() ? nullptr : wide(image.c_str()),
                                                     request.ntfs_image_offset);
  if (scanner == nullptr) return fail_with(kExitFailed, "the scanner could not be created");
  const auto destroy = scope_exit([&] { vantrel->vt_scan_destroy(scanner); });
  for (const auto& exclusion : request.exclusions)
    vantrel->vt_scan_exclude(scanner, wide(absolute_path(exclusion).c_str()));

  ScanTally tally(root, request.top);
  const std::uint64_t started = tick_ms();
  ProgressLine progress(started);
  int failed_steps = 0;
  while (!tally.done()) {
    if (interrupted()) return fail_with(kExitFailed, "scan interrupted");
    std::uint64_t length = 0;
    const char* batch = vantrel->vt_scan_next(scanner, &length);
    // A failed step leaves the scanner usable; give up only when it keeps failing.
    if (batch == nullptr || !tally.add_batch(std::string_view(batch, length))) {
      if (++failed_steps == 100) return fail_with(kExitFailed, "the scanner keeps failing; giving up");
      continue;
    }
    if (request.batches) {
      write_out(std::string(batch, length) + "\n");
    } else {
      progress.show(tally, false);
    }
  }
  const std::uint64_t elapsed = tick_ms() - started;
  const ScanWayFacts way = scan_way(*vantrel, scanner);
  if (request.batches) {
    write_err("way: " + scan_way_line(way) + "\n");
    return kExitOk;
  }
  progress.show(tally, true);
  write_out(request.json ? scan_summary_json(tally, elapsed, &way) : scan_summary_text(tally, elapsed, &way));
  return kExitOk;
}

}  // namespace mirrow::host
