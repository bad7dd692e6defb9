// mirrowctl watch: an engine on the given directories, drained once a second.
#include <windows.h>

#include "common/clock.h"
#include "common/scope_exit.h"
#include "common/unique_handle.h"
#include "common/utf16.h"
#include "host/activity_lines.h"
#include "host/commands_win.h"
#include "host/console_win.h"
#include "host/drain_rounds.h"
#include "host/engine_health.h"
#include "host/libraries_win.h"

namespace mirrow::host {
namespace {

constexpr std::uint64_t kDrainIntervalMs = 1000;

class Watch {
 public:
  Watch(VantrelLibrary& vantrel, vt_engine* engine, bool json)
      : vantrel_(vantrel), engine_(engine), json_(json), offset_(utc_offset_seconds()) {}

  // Drains batch after batch until one comes back empty or the round's
  // batch limit is reached.
  void drain(DrainRound round) {
    drain_round(vantrel_, engine_, round,
                [this](std::string_view batch, const DrainBatch& parsed) { print(batch, parsed); });
  }

  Statistics statistics() const { return engine_statistics(vantrel_, engine_); }
  std::string diagnostics() const { return engine_diagnostics(vantrel_, engine_); }

 private:
  void print(std::string_view batch, const DrainBatch& parsed) {
    if (json_) {
      write_out(std::string(batch) + "\n");
      return;
    }
    std::string lines;
    for (const ActivityRecord& record : parsed.records) lines += activity_line(record, offset_) + "\n";
    write_out(lines);
  }

  VantrelLibrary& vantrel_;
  vt_engine* engine_;
  bool json_;
  std::int64_t offset_;
};

// Roots and exclusions, in the order given; the first refusal is reported.
std::string configure(VantrelLibrary& vantrel, vt_engine* engine, const Request& request) {
  std::int64_t id = 0;
  for (const auto& directory : request.directories) {
    const std::u16string path = absolute_path(directory);
    if (vantrel.vt_root(engine, ++id, wide(path.c_str()), 0) != 0) return "cannot watch " + utf8_from_utf16(path);
  }
  return exclude_all(vantrel, engine, request.exclusions);
}

std::string start_failure(VantrelLibrary& vantrel, std::uint32_t status) {
  std::string text = "the engine could not start (error " + std::to_string(status) + ")";
  if (status == 2 || status == 3) text += ": a directory does not exist";
  if (status == 110) text += ": a directory watcher did not become ready";
  const std::string detail = vantrel.vt_error();
  if (!detail.empty()) text += ": " + detail;
  return text;
}

}  // namespace

int run_watch(const Request& request) {
  std::string problem;
  const auto vantrel = load_vantrel(problem);
  if (!vantrel) return fail_with(kExitMissingLibrary, problem);

  vt_engine* engine = vantrel->vt_create();
  if (engine == nullptr) return fail_with(kExitFailed, "the engine could not be created");
  const auto destroy = scope_exit([&] { vantrel->vt_destroy(engine); });
  if (const std::string refused = configure(*vantrel, engine, request); !refused.empty())
    return fail_with(kExitFailed, refused);

  Watch watch(*vantrel, engine, request.json);
  const std::uint32_t status = vantrel->vt_start(engine, request.capture ? 1 : 0, 0);
  if (status != 0) {
    // With capture, a non-zero status may come from the trace session alone:
    // the engine then runs on with its watchers.
    const bool watchers_run = request.capture && watch.statistics()[9] != 0;
    if (!watchers_run) return fail_with(kExitFailed, start_failure(*vantrel, status));
    write_err(status == ERROR_ACCESS_DENIED
                  ? "mirrowctl: live attribution needs administrator rights; going on with the directory watchers\n"
                  : "mirrowctl: live attribution could not start (error " + std::to_string(status) +
                        "); going on with the directory watchers\n");
  }
  if (!request.json) {
    std::string roots;
    for (const auto& directory : request.directories) roots += " " + utf8_from_utf16(absolute_path(directory));
    write_err("watching" + roots + (request.seconds ? " for " + std::to_string(request.seconds) + " s" : "") +
              " (Ctrl+C ends)\n");
  }

  const std::uint64_t started = tick_ms();
  const std::uint64_t end = request.seconds != 0 ? started + request.seconds * 1000 : UINT64_MAX;
  std::uint64_t next_drain = started + kDrainIntervalMs;
  while (!interrupted() && tick_ms() < end) {
    Sleep(50);
    if (tick_ms() < next_drain) continue;
    next_drain += kDrainIntervalMs;
    watch.drain(DrainRound::per_tick());
  }
  // The figures are read while the engine still runs, so that its health
  // flags show how it ran; the stop then hands out what is left.
  const Statistics statistics = watch.statistics();
  const std::string diagnostics = watch.diagnostics();
  vantrel->vt_stop(engine);
  watch.drain(DrainRound::until_empty());

  if (request.json) {
    write_out("{\"statistics\":" + statistics_json(statistics) +
              ",\"diagnostics\":" + (diagnostics.empty() ? std::string("null") : diagnostics) + "}\n");
  } else {
    write_out("\n" + statistics_text(statistics) + "\n" + diagnostics_text(diagnostics));
  }
  return kExitOk;
}

}  // namespace mirrow::host
