#pragma once
// One function per subcommand; each returns mirrowctl's exit code.
#include "host/command_line.h"

namespace mirrow::host {

int run_scan(const Request& request);
int run_watch(const Request& request);
int run_process_report(const Request& request);  // ps, mem, load, crashes
int run_freeze(const Request& request);
int run_self_test(const Request& request);
int run_check(const Request& request);
int run_recover(const Request& request);
int run_replay(const Request& request);
int run_record(const Request& request);
int run_version();

// Prints "mirrowctl: <problem>" on standard error and returns `code`.
int fail_with(int code, const std::string& problem);

}  // namespace mirrow::host
