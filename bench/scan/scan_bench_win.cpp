// Times full walks of one directory tree through Vantrel.dll's scanner
// exports, bound by name as a host binds them. Usage: scan_bench.exe DIR [RUNS]
// Prints one line per walk and final lines with the best times:
//   scanner_seconds=<best> "files":<n>,"bytes":<n> batches=<n>
//   listing_seconds=<best> files=<n>
// The second is the same tree walked with the bare listing calls (the same
// flags, nothing else): the platform's own floor for the scanner.
//
// scan_bench.exe --table IMAGE DIR [RUNS] instead times scans of N:\ read
// from the table of the NTFS image IMAGE (vt_scan_create_with) against
// walks of DIR, the same tree copied into a local folder, alternately:
//   table_seconds=<best> walk_seconds=<best> speedup=<walk/table> (goal >= 10)
//   image_read_seconds=<best read of the whole image in the scan's calls>
// with, per table scan, when its first records came: the reading of the
// table before them.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
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
  double first_records_seconds = 0;  // until the first batch with a record: the table's reading
  std::size_t batches = 0;
  std::string totals;
  bool ok = false;
};

double seconds_since(const LARGE_INTEGER& start) {
  LARGE_INTEGER frequency, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return double(now.QuadPart - start.QuadPart) / double(frequency.QuadPart);
}

// A full scan through the exports; image empty: vt_scan_create as a host
// calls it, else the table of the image as the volume of root's drive.
Walk walk(const VantrelApi& vantrel, const std::wstring& root, const std::wstring& image = {}, uint32_t way = 0) {
  Walk result;
  LARGE_INTEGER frequency, start, stop;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  vt_scanner* scanner = image.empty() && way == 0
                            ? vantrel.vt_scan_create(root.c_str())
                            : vantrel.vt_scan_create_with(root.c_str(), way, image.empty() ? nullptr : image.c_str(), 0);
  if (scanner == nullptr) return result;
  // Batches are read where the DLL keeps them, not copied: the copy would
  // be timed as the scanner's. The flag is searched in the tail only.
  std::string last;
  for (;;) {
    uint64_t length = 0;
    const char* text = vantrel.vt_scan_next(scanner, &length);
    if (text == nullptr) break;
    ++result.batches;
    const std::string_view batch(text, length);
    if (result.first_records_seconds == 0 && batch.starts_with("{\"records\":[["))
      result.first_records_seconds = seconds_since(start);
    const std::size_t flag = batch.rfind("\"done\":");
    if (flag != std::string_view::npos && batch.substr(flag).starts_with("\"done\":true")) {
      last.assign(batch);
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

// Reads a whole file in 4 MiB calls, as the table scan does, so that the
// scan after it finds it in the page cache; the seconds it took (the floor
// under the table's reading here), or a negative number when it cannot.
double read_through(const std::wstring& path) {
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return -1;
  std::vector<char> buffer(4u << 20);
  std::uint64_t at = 0;
  for (;;) {
    OVERLAPPED position{};  // at an offset of its own, as the scan reads
    position.Offset = static_cast<DWORD>(at);
    position.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, &position) || got == 0) break;
    at += got;
  }
  return seconds_since(start);
}

// Each timed scan follows an untimed pass over the same data, the image read
// through, the tree walked once, so that both are timed from the page
// cache, the walk at its best: some machines page out cached data that sees
// little use (on these, a memory monitor does, 128 MiB a second), and the
// image sees none during a walk of several seconds.
int table_against_walk(const VantrelApi& vantrel, const std::wstring& image, const std::wstring& tree, int runs) {
  Walk best_table, best_walk;
  double best_read = 0;
  for (int run = 0; run < runs; ++run) {
    const double read = read_through(image);
    if (read < 0) {
      std::fprintf(stderr, "cannot read the image\n");
      return 1;
    }
    if (run == 0 || read < best_read) best_read = read;
    const Walk table = walk(vantrel, L"N:\\", image);
    walk(vantrel, tree, {}, 1);
    const Walk listing = walk(vantrel, tree, {}, 1);
    if (!table.ok || !listing.ok) {
      std::fprintf(stderr, "scan %d failed\n", run + 1);
      return 1;
    }
    std::printf("table %d: %.3f s (first records at %.3f s), %zu batches, %s\n", run + 1, table.seconds,
                table.first_records_seconds, table.batches, table.totals.c_str());
    std::printf("walk %d: %.3f s, %zu batches, %s\n", run + 1, listing.seconds, listing.batches, listing.totals.c_str());
    if (run == 0 || table.seconds < best_table.seconds) best_table = table;
    if (run == 0 || listing.seconds < best_walk.seconds) best_walk = listing;
  }
  std::printf("table_seconds=%.3f walk_seconds=%.3f speedup=%.1f (goal >= 10)\n", best_table.seconds,
              best_walk.seconds, best_walk.seconds / best_table.seconds);
  std::printf("image_read_seconds=%.3f (the whole image read through, nothing parsed)\n", best_read);
  return 0;
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
  if (std::wstring_view(argv[1]) == L"--table") {
    if (argc < 4) {
      std::fprintf(stderr, "usage: scan_bench.exe --table IMAGE DIR [RUNS]\n");
      return 2;
    }
    return table_against_walk(*vantrel, argv[2], argv[3], argc > 4 ? std::max(1, _wtoi(argv[4])) : 3);
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
