#pragma once
// Scanner: walks one directory tree depth-first in bounded steps and reports
// every regular file with its size and times. Each step returns one batch
// text; a listing cut off by a bound stays open and the next step resumes it.
// A scanner has no lock: one caller at a time.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "scanner/scan_ledger.h"
#include "scanner/scan_platform.h"

namespace mirrow {

class Scanner {
 public:
  // root is normalised here; nothing is checked until the first step. The
  // system is handed the root as spelled here and each entry's name as its
  // listing spelled it, so that a case-sensitive directory lists the entry
  // that was found rather than a sibling differing only in case.
  Scanner(std::u16string root, const ScanPlatform& platform);
  ~Scanner();
  Scanner(const Scanner&) = delete;
  Scanner& operator=(const Scanner&) = delete;

  // Entries examined from now on that lie under path are neither reported,
  // skipped nor descended into.
  void exclude(std::u16string path);

  // One bounded step of the walk; the batch stays valid until the next step.
  const std::string& step();

  // Counts a failure that happened outside the walk (a failed step or exclusion).
  void count_error() noexcept { ledger_.count_error(); }

  bool done() const noexcept { return listing_ == nullptr && pending_.empty(); }

 private:
  // Opens the next pending directory; false when it could not be opened.
  bool open_next_directory();
  // Moves the fetched entry into current_ and fetches the one after it.
  void take_entry();
  // Fetches the listing's next entry into entry_; closes the listing at its end.
  void fetch_next_entry();
  void examine(const ScanEntry& entry, StepCounts& counts);
  void push_directory(const std::u16string& spelling, std::u16string_view path);
  void close_listing() noexcept;
  bool excluded(std::u16string_view path) const;

  const ScanPlatform& platform_;
  std::vector<std::u16string> pending_;  // spelled as the system gave them
  std::vector<std::u16string> exclusions_;
  std::u16string current_dir_;       // normalised: for records and errors
  std::u16string current_spelling_;  // as spelled: for the system's calls
  ListingHandle listing_ = nullptr;
  ScanEntry entry_;    // fetched from the listing, not yet examined
  bool entry_ready_ = false;
  ScanEntry current_;  // the entry being examined
  std::u16string entry_spelling_;
  std::u16string entry_path_;
  ScanLedger ledger_;
  std::string batch_;
};

}  // namespace mirrow
