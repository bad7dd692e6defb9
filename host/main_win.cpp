// mirrowctl.exe: the reference host of Vantrel.dll, Telvyn.dll and
// FreezeGuard.exe.
#include <exception>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "host/command_line.h"
#include "host/commands_win.h"
#include "host/console_win.h"

namespace mirrow::host {

int fail_with(int code, const std::string& problem) {
  write_err("mirrowctl: " + problem + "\n");
  return code;
}

namespace {

int dispatch(const Request& request) {
  switch (request.command) {
    case Subcommand::scan: return run_scan(request);
    case Subcommand::watch: return run_watch(request);
    case Subcommand::ps:
    case Subcommand::mem:
    case Subcommand::load:
    case Subcommand::crashes: return run_process_report(request);
    case Subcommand::freeze: return run_freeze(request);
    case Subcommand::selftest: return run_self_test(request);
    case Subcommand::check: return run_check(request);
    case Subcommand::recover: return run_recover(request);
    case Subcommand::replay: return run_replay(request);
    case Subcommand::record: return run_record(request);
    case Subcommand::none: break;
  }
  return kExitUsage;
}

int run(const std::vector<std::u16string>& arguments) {
  const ParsedCommandLine parsed = parse_command_line(arguments);
  if (const auto* error = std::get_if<UsageError>(&parsed)) {
    write_err("mirrowctl: " + error->message + "\n" + usage_text(error->command));
    return kExitUsage;
  }
  const Request& request = std::get<Request>(parsed);
  if (request.help) {
    write_out(usage_text(request.command));
    return kExitOk;
  }
  if (request.version) return run_version();
  return dispatch(request);
}

}  // namespace
}  // namespace mirrow::host

int wmain(int argc, wchar_t** argv) {
  using namespace mirrow::host;
  prepare_console();
  try {
    std::vector<std::u16string> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(mirrow::utf16(argv[i]));
    return run(arguments);
  } catch (const std::exception& e) {
    return fail_with(kExitFailed, std::string("unexpected failure: ") + e.what());
  } catch (...) {
    return fail_with(kExitFailed, "unexpected failure");
  }
}
