// What `mirrowctl --help` and `mirrowctl <subcommand> --help` print.
#include <string>

#include "host/command_line.h"

namespace mirrow::host {

std::string usage_text(Subcommand command) {
  switch (command) {
    case Subcommand::scan:
      return "usage: mirrowctl scan DIR [--exclude PATH]... [--top N] [--json] [--batches]\n"
             "                     [--walk | --ntfs-image FILE[@OFFSET]]\n"
             "  Scans DIR to the end with Vantrel's scanner, showing progress on stderr, then prints\n"
             "  the total files and bytes, errors and skipped paths, the N (default 10) largest\n"
             "  folders and files, and which way the scan went: the volume's master file table, or\n"
             "  the walk of its folders and why. --exclude leaves a subtree out; --json prints the\n"
             "  summary as JSON; --batches prints every batch exactly as the scanner returned it, one\n"
             "  per line, instead (the way goes to stderr). --walk always walks; --ntfs-image reads\n"
             "  FILE, from byte OFFSET on, as the volume of DIR's drive.\n";
    case Subcommand::watch:
      return "usage: mirrowctl watch DIR... [--seconds N] [--capture] [--exclude PATH]... [--json]\n"
             "  Starts a Vantrel engine on the directories and prints every activity record once a\n"
             "  second: local time, kind, process id, path (-> new path) and count. --capture adds\n"
             "  live attribution to processes (needs administrator rights); without --seconds it runs\n"
             "  until Ctrl+C. At the end it prints the engine's statistics and diagnostics.\n"
             "  --json prints the raw drain batches and reports instead.\n";
    case Subcommand::ps:
      return "usage: mirrowctl ps [--json]\n"
             "  Every process with its parent, session, window and user flags and whether it may be\n"
             "  frozen (Telvyn's snapshot report).\n";
    case Subcommand::mem:
      return "usage: mirrowctl mem [--json]\n"
             "  The machine's memory figures and every process's working set and private memory.\n";
    case Subcommand::load:
      return "usage: mirrowctl load [--samples N] [--json]\n"
             "  Takes N (default 2) CPU-load samples one second apart; the first call of a session only\n"
             "  starts the measurement. Also shows how many processes run.\n";
    case Subcommand::crashes:
      return "usage: mirrowctl crashes [--json]\n"
             "  Unexpected shutdowns and crashes of the last 7 days and application errors of the last hour.\n";
    case Subcommand::freeze:
      return "usage: mirrowctl freeze PID --lease S [--journal FILE]\n"
             "  Freezes process PID for at most S seconds (1 to 600) through FreezeGuard.exe, keeping the\n"
             "  lease alive with a heartbeat every 5 s. Press Enter or Ctrl+C to resume it early.\n"
             "  --journal names a file that receives the guard's state lines; without it the journal is\n"
             "  kept in %LOCALAPPDATA%\\Mirrow\\freezes for mirrowctl recover. A journal that ends with the\n"
             "  freeze of a guard that was killed is recovered first, since the guard refuses it otherwise.\n";
    case Subcommand::selftest:
      return "usage: mirrowctl selftest\n"
             "  Runs FreezeGuard.exe --self-test (it freezes only its own helper child) and summarises it.\n";
    case Subcommand::check:
      return "usage: mirrowctl check [--json] [--diagnostics]\n"
             "  Tries every area on this machine in a minute or so: watcher, trace sessions (failing for\n"
             "  any left running by a host that ended while capturing), capture and attribution, startup\n"
             "  names, session clean-up, scanner, snapshot and verdicts, memory, load, crash events and\n"
             "  the guard's self-test. One line each: passed, failed or unavailable (with\n"
             "  the reason, such as not elevated or no real-time tracing on Wine), then a summary.\n"
             "  Exit code 0 when nothing failed. --json prints the same as one object. --diagnostics\n"
             "  adds the engine's diagnostics document from the capture check (null when it did not run).\n";
    case Subcommand::recover:
      return "usage: mirrowctl recover [--dry-run] [--json]\n"
             "  Goes through the journals that freeze keeps in %LOCALAPPDATA%\\Mirrow\\freezes and resumes\n"
             "  every process whose guard was killed while it was frozen (FreezeGuard.exe --recover), then\n"
             "  prints pid, image and outcome for each. --dry-run only lists them; --json prints one JSON\n"
             "  object per process. Nothing is deleted.\n";
    case Subcommand::replay:
      return "usage: mirrowctl replay FILE.etl [--root DIR]... [--exclude PATH]... [--missing PATH]...\n"
             "                        [--device DEVICE=DRIVE]... [--json]\n"
             "  Feeds a trace recorded on any Windows machine (mirrowctl record, or any recording with\n"
             "  the kernel file events) through a Vantrel engine configured like watch, then prints its\n"
             "  activity as watch does and the engine's statistics and diagnostics. Without --root every\n"
             "  drive is a root. The recording names files by its machine's device paths: --device maps\n"
             "  one (\\Device\\HarddiskVolume2=C:); without it the map the recording holds is used, else\n"
             "  this machine's. --json prints one object with the activity, statistics and diagnostics.\n";
    case Subcommand::record:
      return "usage: mirrowctl record FILE.etl --seconds N [--missing PATH]...\n"
             "  Records for N seconds exactly what live capture asks the system for (the kernel file\n"
             "  events and the file names) into FILE.etl, for mirrowctl replay on any machine. Needs\n"
             "  administrator rights on Windows; --missing also records the failed opens that tracking\n"
             "  missing paths needs. Prints the device map to replay the file with elsewhere.\n";
    case Subcommand::none:
      break;
  }
  return "usage: mirrowctl <subcommand> [options]    (mirrowctl <subcommand> --help for details)\n"
         "       mirrowctl --version    the versions of mirrowctl and of the files beside it\n"
         "  scan DIR       folder sizes: files, bytes, largest folders and files\n"
         "  watch DIR...   file activity in the directories, live\n"
         "  ps             processes and whether each may be frozen\n"
         "  mem            memory figures\n"
         "  load           CPU load\n"
         "  crashes        recent crash and unexpected-shutdown events\n"
         "  freeze PID     freeze one process under a lease\n"
         "  selftest       FreezeGuard's self-test\n"
         "  check          a quick check of every area on this machine\n"
         "  recover        resume processes left frozen by a guard that was killed\n"
         "  replay FILE    a recorded trace through the engine, as if it ran live\n"
         "  record FILE    record what live capture sees into a trace file\n"
         "Vantrel.dll, Telvyn.dll and FreezeGuard.exe must lie beside mirrowctl.exe.\n";
}

}  // namespace mirrow::host
