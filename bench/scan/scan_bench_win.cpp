// Times full walks of one directory tree through Vantrel.dll's scanner
// exports, bound by name as a host binds them. Usage: scan_bench.exe DIR [RUNS]
// Prints one line per walk and final lines with the best times:
//   scanner_seconds=<best> "files":<n>,"bytes":<n> batches=<n>
//   listing_seconds=<best> files=<n>
// The second is the same tree walked with the bare listing calls (the same
// flags, nothing else): the platform's own floor for the scanner.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "support/library_api_win.h"

namespace {

using namespace mirrow;

using mirrow::testing::VantrelApi;

// The totals of the last batch: "files":N,"bytes":N.
std::string totals_of(const std::string& batch) {
  const std::size_t begin = batch.rfind("\"files\":");
  const std::size_t end = batch.find(",\"done\"", begin);
  return batch.substr(begin, end - begin);
}

struct Walk {
  double seconds = 0;
  std::size_t batches = 0;
  std::string totals;
  bool ok = false;
};

Walk walk(const VantrelApi& vantrel, const std::wstring& root) {
  Walk result;
  LARGE_INTEGER frequency, start, stop;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  vt_scanner* scanner = vantrel.vt_scan_create(root.c_str());
  if (scanner == nullptr) return result;
  std::string last;
  for (;;) {
    uint64_t length = 0;
    const char* text = vantrel.vt_scan_next(scanner, &length);
    if (text == nullptr) break;
    ++result.batches;
    last.assign(text, length);
    if (last.find("\"done\":true", last.rfind("\"done\":")) != std::string::npos) {
      result.ok = true;
      break;
    }
  }
  vantrel.vt_scan_destroy(scanner);
  QueryPerformanceCounter(&stop);
  result.seconds = double(stop.QuadPart - start.QuadPart) / double(frequency.QuadPart);
  result.totals = last.empty() ? std::string() : totals_of(last);
  return result;
}

double seconds_since(const LARGE_INTEGER& start) {
  LARGE_INTEGER frequency, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return double(now.QuadPart - start.QuadPart) / double(frequency.QuadPart);
}

// Depth-first walk with nothing but the listing calls; counts files.
std::size_t bare_listing_walk(const std::wstring& root) {
  std::size_t files = 0;
  std::vector<std::wstring> pending{L"\\\\?\\" + root};
  while (!pending.empty()) {
    const std::wstring directory = std::move(pending.back());
    pending.pop_back();
    WIN32_FIND_DATAW data;
    UniqueFindHandle listing(FindFirstFileExW((directory + L"\\*").c_str(), FindExInfoBasic, &data,
                                              FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!listing) continue;
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        pending.push_back(directory + L"\\" + name);
      } else {
        ++files;
      }
    } while (FindNextFileW(listing.get(), &data));
  }
  return files;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: scan_bench.exe DIR [RUNS]\n");
    return 2;
  }
  std::optional<VantrelApi> vantrel;
  try {
    vantrel.emplace();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Vantrel.dll: %s\n", e.what());
    return 1;
  }
  const int runs = argc > 2 ? std::max(1, _wtoi(argv[2])) : 3;
  // Scanner walks and bare listing walks alternate, so both see the same load.
  Walk best;
  double best_listing = 0;
  std::size_t listed_files = 0;
  for (int run = 0; run < runs; ++run) {
    const Walk current = walk(*vantrel, argv[1]);
    if (!current.ok) {
      std::fprintf(stderr, "walk %d failed\n", run + 1);
      return 1;
    }
    std::printf("walk %d: %.3f s, %zu batches, %s\n", run + 1, current.seconds, current.batches, current.totals.c_str());
    if (run == 0 || current.seconds < best.seconds) best = current;

    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    listed_files = bare_listing_walk(argv[1]);
    const double seconds = seconds_since(start);
    std::printf("bare listing %d: %.3f s\n", run + 1, seconds);
    if (run == 0 || seconds < best_listing) best_listing = seconds;
  }
  std::printf("scanner_seconds=%.3f %s batches=%zu\n", best.seconds, best.totals.c_str(), best.batches);
  std::printf("listing_seconds=%.3f files=%zu\n", best_listing, listed_files);
  return 0;
}
