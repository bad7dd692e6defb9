// mirrowctl ps, mem, load and crashes: Telvyn's reports as tables or raw.
#include <windows.h>

#include <optional>

#include "host/commands_win.h"
#include "host/console_win.h"
#include "host/libraries_win.h"
#include "host/process_reports.h"

namespace mirrow::host {
namespace {

using Report = const char* (WINAPI*)(std::uint64_t*);

std::optional<std::string> fetch(Report report) {
  std::uint64_t length = 0;
  const char* text = report(&length);
  if (text == nullptr) return std::nullopt;
  return std::string(text, length);
}

// The table, or the raw text with a warning when it cannot be read.
template <typename Table>
int show(const std::optional<std::string>& text, bool json, Table table) {
  if (!text) return fail_with(kExitFailed, "Telvyn.dll returned no report");
  if (json) {
    write_out(*text + "\n");
    return kExitOk;
  }
  const auto shown = table(*text);
  if (!shown) {
    write_err("mirrowctl: the report could not be read; here it is as it came:\n");
    write_out(*text + "\n");
    return kExitFailed;
  }
  write_out(*shown);
  return kExitOk;
}

int load_samples(TelvynLibrary& telvyn, const Request& request) {
  int status = kExitOk;
  for (std::uint64_t sample = 0; sample < request.samples && !interrupted(); ++sample) {
    if (sample != 0) Sleep(1000);
    const auto text = fetch(telvyn.tl_load);
    if (!text) return fail_with(kExitFailed, "Telvyn.dll returned no report");
    if (request.json) {
      write_out(*text + "\n");
      continue;
    }
    const auto line = load_line(*text);
    write_out((line ? *line : *text) + "\n");
    if (!line) status = kExitFailed;
  }
  return status;
}

}  // namespace

int run_process_report(const Request& request) {
  std::string problem;
  const auto telvyn = load_telvyn(problem);
  if (!telvyn) return fail_with(kExitMissingLibrary, problem);
  switch (request.command) {
    case Subcommand::ps: return show(fetch(telvyn->tl_snapshot), request.json, process_table);
    case Subcommand::mem: return show(fetch(telvyn->tl_memory), request.json, memory_table);
    case Subcommand::crashes: {
      const std::int64_t offset = utc_offset_seconds();
      return show(fetch(telvyn->tl_crashes), request.json,
                  [offset](std::string_view text) { return crash_table(text, offset); });
    }
    default: return load_samples(*telvyn, request);
  }
}

}  // namespace mirrow::host
