#pragma once
// The scan of one folder tree from its volume's master file table instead
// of directory listings: first the table is read in slices of at most
// 4 MiB, one per step, each step's batch empty and not done (the next two
// slices are read meanwhile, on threads of their own); then the records
// come out in the walk's own order and under its bounds: a folder's entries
// in the volume's collation order, its files before any of its subfolders
// is entered, the subfolder that comes last entered first. The table may
// refuse (damaged, too large, the root not found in it) until the last
// slice is read and nothing has been reported; after that it no longer can.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "scanner/ntfs/file_table.h"
#include "scanner/ntfs/folder_order.h"
#include "scanner/ntfs/read_ahead.h"
#include "scanner/ntfs/table_source.h"
#include "scanner/scan_ledger.h"

namespace mirrow {

constexpr std::size_t table_slice_bytes = 4u << 20;  // read in one step, in one call, at most
// What the table may hold at most, names' text included; a larger one is
// left to the walk.
constexpr std::uint64_t table_memory_limit = std::uint64_t{1} << 30;
// Bytes a record costs at least when every record is in use with one name.
constexpr std::uint64_t table_bytes_per_record = 56;

class TableScan {
 public:
  // root as spelled for the system (spell_path), a path on the volume that
  // reader reaches: a drive root or a folder below it.
  TableScan(std::u16string root, const ntfs::VolumeReader& reader);

  // Reads the geometry, the table's extents and the upper-case table;
  // null, or the reason the table cannot serve.
  const char* open();

  // One bounded step. While reading, a refusal leaves refusal() set and the
  // batch is not to be handed out.
  const std::string& step();

  bool refused() const { return !refusal_.empty(); }
  const std::string& refusal() const { return refusal_; }
  bool reading() const { return phase_ == Phase::reading; }
  bool done() const { return phase_ == Phase::reporting && !listing_open_ && pending_.empty(); }

  void exclude(const std::u16string& normalised) { exclusions_.push_back(normalised); }
  void count_error() noexcept { ledger_.count_error(); }

  // Figures for the benchmark: records read, bytes held at the peak (the
  // largest folder's sort scratch included).
  std::uint64_t records_read() const { return next_record_; }
  std::uint64_t peak_bytes() const { return peak_bytes_; }
  std::uint64_t peak_text_bytes() const { return peak_text_bytes_; }
  std::uint64_t in_use_files() const { return in_use_files_; }

 private:
  enum class Phase { reading, reporting };
  struct PendingFolder {
    std::uint32_t entry;
    std::u16string spelling;
  };

  std::size_t slice_records(std::uint64_t first) const;
  void ask_next_slice();
  void read_slice();
  void take_record(std::uint64_t number, std::uint8_t* bytes);
  void finish_reading();
  // The root's folder entry, or none with refusal_ set.
  std::uint32_t resolve_root();
  std::uint32_t find_child(std::uint32_t folder, std::u16string_view name) const;
  void commit_problems();
  void refuse(std::string reason);
  void report_step();
  void open_next_folder();
  void examine(std::uint32_t name_index, StepCounts& counts);
  bool lowered_plain_name(std::u16string_view name);
  void normalised_child(std::u16string_view name);
  bool excluded(std::u16string_view path) const;
  void note_memory();
  bool over_memory_limit() const;

  std::u16string root_;
  ntfs::VolumeReader reader_;
  ntfs::TableSource source_;
  // After source_, so that its threads have ended before the source goes.
  ntfs::ReadAhead read_ahead_;
  std::unique_ptr<ntfs::FileTable> table_;
  ntfs::TableProblems problems_;
  ntfs::RecordFacts facts_;
  ntfs::FolderOrder order_;
  Phase phase_ = Phase::reading;
  bool opened_in_this_step_ = false;  // the first reads were this step's slice
  std::string refusal_;
  std::uint64_t next_record_ = 0;
  std::uint64_t asked_until_ = 0;         // the records asked of the read-ahead so far
  std::uint64_t sort_scratch_bytes_ = 0;  // known once the names are grouped
  std::uint64_t peak_bytes_ = 0;
  std::uint64_t peak_text_bytes_ = 0;
  std::uint64_t in_use_files_ = 0;

  std::vector<PendingFolder> pending_;
  std::vector<std::u16string> exclusions_;
  bool listing_open_ = false;
  std::uint32_t* cursor_ = nullptr;
  std::uint32_t* listing_end_ = nullptr;
  std::u16string current_dir_;           // normalised
  std::u16string current_spelling_;      // as the host and the table spell it
  std::string quoted_dir_;               // current_dir_ as its files' records begin
  std::size_t child_prefix_length_ = 0;  // units before a name in its path
  std::u16string entry_name_;            // a plain file's name, lower-cased
  std::u16string entry_spelling_;
  std::u16string entry_path_;
  ScanLedger ledger_;
  std::string batch_;
};

}  // namespace mirrow
