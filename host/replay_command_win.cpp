// mirrowctl replay: a recorded trace fed through an engine configured like
// watch, then drained until empty and reported as watch reports.
#include <windows.h>

#include <string>
#include <vector>

#include "common/scope_exit.h"
#include "common/unique_handle.h"
#include "common/utf16.h"
#include "host/activity_lines.h"
#include "host/commands_win.h"
#include "host/console_win.h"
#include "host/drain_rounds.h"
#include "host/libraries_win.h"
#include "host/replay_report.h"

namespace mirrow::host {
namespace {

// The roots given, or every drive: a recording may name files anywhere.
std::vector<std::u16string> replay_roots(const Request& request) {
  if (!request.roots.empty()) {
    std::vector<std::u16string> roots;
    for (const auto& root : request.roots) roots.push_back(absolute_path(root));
    return roots;
  }
  std::vector<std::u16string> drives;
  for (char16_t letter = u'A'; letter <= u'Z'; ++letter) drives.push_back(std::u16string{letter, u':', u'\\'});
  return drives;
}

std::string configure(VantrelLibrary& vantrel, vt_engine* engine, const Request& request) {
  std::int64_t id = 0;
  for (const auto& root : replay_roots(request)) {
    if (vantrel.vt_root(engine, ++id, wide(root.c_str()), 0) != 0) return "cannot use the root " + utf8_from_utf16(root);
  }
  if (std::string refused = exclude_all(vantrel, engine, request.exclusions); !refused.empty()) return refused;
  for (const auto& missing : request.missing) vantrel.vt_missing(engine, wide(absolute_path(missing).c_str()));
  // Failed opens of missing paths are reported only while tracked, as a
  // live start with tracking does.
  if (!request.missing.empty() && vantrel.vt_test_recovery(engine, 1) != 0) return "cannot track missing paths";
  return {};
}

std::string replay_failure(std::uint32_t status, const std::string& problem, const std::u16string& file) {
  if (!problem.empty()) return utf8_from_utf16(file) + ": " + problem;
  if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) return utf8_from_utf16(file) + ": no such file";
  return utf8_from_utf16(file) + ": cannot be read (error " + std::to_string(status) + ")";
}

// Every drain batch until one comes back empty.
std::vector<std::string> drain_all(VantrelLibrary& vantrel, vt_engine* engine) {
  std::vector<std::string> batches;
  drain_round(vantrel, engine, DrainRound::until_empty(),
              [&](std::string_view batch, const DrainBatch&) { batches.emplace_back(batch); });
  return batches;
}

std::string activity_text(const std::vector<std::string>& batches) {
  const std::int64_t offset = utc_offset_seconds();
  std::string lines;
  for (const std::string& batch : batches) {
    if (const auto parsed = parse_drain(batch))
      for (const ActivityRecord& record : parsed->records) lines += activity_line(record, offset) + "\n";
  }
  return lines;
}

}  // namespace

int run_replay(const Request& request) {
  std::string problem;
  const auto vantrel = load_vantrel(problem);
  if (!vantrel) return fail_with(kExitMissingLibrary, problem);
  vt_engine* engine = vantrel->vt_create();
  if (engine == nullptr) return fail_with(kExitFailed, "the engine could not be created");
  const auto destroy = scope_exit([&] { vantrel->vt_destroy(engine); });
  if (const std::string refused = configure(*vantrel, engine, request); !refused.empty())
    return fail_with(kExitFailed, refused);

  const std::u16string file = absolute_path(request.trace_file);
  const std::u16string devices = device_entries(request.devices);
  const char* text = nullptr;
  std::uint64_t length = 0;
  const std::uint32_t status = vantrel->vt_replay_file(engine, wide(file.c_str()),
                                                       request.devices.empty() ? nullptr : wide(devices.c_str()),
                                                       &text, &length);
  const std::string report = text == nullptr ? std::string() : std::string(text, length);
  if (status != 0) return fail_with(kExitFailed, replay_failure(status, replay_problem(report), file));

  // A stop of the stopped engine hands out what is still pending, as the
  // end of a live run would.
  vantrel->vt_stop(engine);
  const std::vector<std::string> batches = drain_all(*vantrel, engine);
  const Statistics statistics = engine_statistics(*vantrel, engine);
  const std::string diagnostics = engine_diagnostics(*vantrel, engine);
  if (request.json) {
    write_out(replay_json(report, batches, statistics, diagnostics) + "\n");
  } else {
    write_out(replay_summary_text(report) + activity_text(batches) + "\n" + statistics_text(statistics) + "\n" +
              diagnostics_text(diagnostics));
  }
  return kExitOk;
}

}  // namespace mirrow::host
