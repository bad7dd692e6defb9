// Times full scans of an NTFS image through the scanner's table reader,
// natively, the image in the page cache.
// Usage: table_bench IMAGE [RUNS]. Each scan follows an untimed read of the
// whole image. Prints one line per scan and then
//   table_records_per_second=<best> per_processor_second=<the same over processor time> records=<n> ...
//   reads_alone_seconds=<best of the table's reads alone> scan_beside_reads_seconds=<best scan less those>
//   peak_bytes_per_file=<beside names' text> text_bytes=<names' text> max_rss_mib=<process peak>
// Goals: at least 3 million table records a second; at most 64 bytes per
// in-use file record beside the names' text.
#include <sys/resource.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "scanner/ntfs/table_source.h"
#include "scanner/scan_driver.h"
#include "scanner/table_scan.h"
#include "support/volume_images.h"

namespace {

using namespace mirrow;

struct Run {
  double seconds = 0;
  double reading_seconds = 0;  // until the table is read and grouped
  double cpu_seconds = 0;      // the process's processor time: on a shared machine, the steadier figure
  std::uint64_t records = 0;
  std::uint64_t in_use = 0;
  std::uint64_t peak = 0;
  std::uint64_t text = 0;
  std::string totals;
  bool table = false;
};

double cpu_now() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

Run scan(const ntfs::VolumeReader& reader) {
  testing::FixedVolumeAccess fixed;
  fixed.reader = reader;
  const VolumeAccess access = fixed.access();
  Run run;
  const auto start = std::chrono::steady_clock::now();
  const double cpu_start = cpu_now();
  ScanDriver driver(u"N:\\", testing::nothing_to_list(), &access);
  std::uint64_t peak = 0;
  for (;;) {
    const std::string& batch = driver.step();
    if (const TableScan* table = driver.table()) {
      if (run.reading_seconds == 0 && !table->reading())
        run.reading_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      run.records = table->records_read();
      run.in_use = table->in_use_files();
      run.peak = table->peak_bytes();
      run.text = table->peak_text_bytes();
      peak = run.peak;
    }
    // The flag is in the batch's tail: the records before it are not searched.
    const std::size_t flag = batch.rfind("\"done\":");
    if (flag != std::string::npos && batch.compare(flag, 11, "\"done\":true") == 0) {
      const std::size_t at = batch.rfind("\"errors\"");
      run.totals = batch.substr(at, batch.find(",\"done\"") - at);
      break;
    }
  }
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.cpu_seconds = cpu_now() - cpu_start;
  run.table = driver.way() == ScanWay::table;
  (void)peak;
  return run;
}

// The table's reads alone, in the scan's own calls, with nothing parsed:
// what the copy out of the page cache costs on this machine, the floor
// under every scan figure above it.
double reads_alone(const ntfs::VolumeReader& reader) {
  ntfs::TableSource source;
  if (source.open(reader) != nullptr) return 0;
  const std::uint64_t per_call = table_slice_bytes / source.geometry().record_size;
  ntfs::AlignedBuffer buffer(table_slice_bytes);
  const auto start = std::chrono::steady_clock::now();
  for (std::uint64_t first = 0; first < source.record_count(); first += per_call) {
    const std::uint64_t count = std::min(per_call, source.record_count() - first);
    if (!source.read_records(first, static_cast<std::size_t>(count), buffer)) return 0;
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Reads the whole image, untimed, so that the scan after it finds it in the
// page cache: some machines page out cached data that sees little use.
void read_through(const ntfs::VolumeReader& reader) {
  ntfs::AlignedBuffer buffer(table_slice_bytes);
  for (std::uint64_t at = 0; at < reader.size; at += buffer.size()) {
    const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), reader.size - at));
    if (!reader.read(reader.context, at, buffer.data(), length)) return;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: table_bench IMAGE [RUNS]\n");
    return 2;
  }
  testing::FileVolume volume;
  if (!volume.open(argv[1])) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  Run best;
  for (int i = 0; i < runs; ++i) {
    read_through(volume.reader());
    const Run run = scan(volume.reader());
    if (!run.table) {
      std::fprintf(stderr, "the scan walked instead of reading the table\n");
      return 1;
    }
    std::printf("scan %d: %.3f s (table read in %.3f s; %.3f s of processor time), %.2f million table records/s, %s\n",
                i + 1, run.seconds, run.reading_seconds, run.cpu_seconds, run.records / run.seconds / 1e6,
                run.totals.c_str());
    if (i == 0 || run.seconds < best.seconds) best = run;
  }
  double floor = 0;
  for (int i = 0; i < runs; ++i) {
    const double seconds = reads_alone(volume.reader());
    if (i == 0 || seconds < floor) floor = seconds;
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("table_records_per_second=%.0f per_processor_second=%.0f records=%llu in_use_files=%llu %s\n", best.records / best.seconds,
              best.records / best.cpu_seconds, static_cast<unsigned long long>(best.records), static_cast<unsigned long long>(best.in_use),
              best.totals.c_str());
  std::printf("reads_alone_seconds=%.3f (the same reads, nothing parsed) scan_beside_reads_seconds=%.3f\n", floor,
              best.seconds - floor);
  std::printf("peak_bytes_per_file=%.1f text_bytes=%llu max_rss_mib=%.1f (goals: >= 3e6 records/s, <= 64 bytes)\n",
              double(best.peak) / double(best.in_use ? best.in_use : 1), static_cast<unsigned long long>(best.text),
              usage.ru_maxrss / 1024.0);
  return 0;
}
