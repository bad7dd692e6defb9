#include "scanner/scan_driver.h"

#include <new>
#include <utility>

#include "common/json_writer.h"
#include "common/paths.h"
#include "common/utf16.h"

namespace mirrow {
namespace {

// A drive path, "c:\" or below it: the only roots whose volume is opened.
bool on_drive_letter(std::u16string_view normalised) {
  return normalised.size() >= 3 && normalised[0] >= u'a' && normalised[0] <= u'z' && normalised[1] == u':' &&
         normalised[2] == u'\\';
}

const char* way_name(ScanWay way) {
  switch (way) {
    case ScanWay::table: return "table";
    case ScanWay::walk: return "walk";
    case ScanWay::undecided: return "undecided";
  }
  return "undecided";
}

}  // namespace

ScanDriver::ScanDriver(std::u16string root, const ScanPlatform& platform, const VolumeAccess* volumes)
    : root_(spell_path(std::move(root))), platform_(platform), volumes_(volumes) {}

// The table scan goes first: a read it has in flight ends before the
// volume it reads from is closed.
ScanDriver::~ScanDriver() {
  table_.reset();
  close_volume();
}

void ScanDriver::exclude(std::u16string path) {
  std::u16string normalised = normalize_path(std::move(path));
  if (walk_) return walk_->exclude(std::move(normalised));
  if (table_) table_->exclude(normalised);
  exclusions_.push_back(std::move(normalised));
}

void ScanDriver::count_error() noexcept {
  if (walk_) return walk_->count_error();
  if (table_) table_->count_error();
  ++outside_errors_;
}

const std::string& ScanDriver::step() {
  if (way_ == ScanWay::undecided) choose();
  if (way_ == ScanWay::table) {
    const std::string& batch = table_->step();
    if (!table_->refused()) {
      if (!table_->reading()) close_volume();
      return batch;
    }
    walk_because(table_->refusal());
  }
  return walk_->step();
}

void ScanDriver::choose() {
  if (volumes_ == nullptr) return walk_because("the walk was asked for");
  const std::u16string normalised = normalize_path(root_);
  if (!on_drive_letter(normalised)) return walk_because("the root is not on a drive letter");
  std::string refusal;
  if (!volumes_->open(volumes_->context, std::u16string_view(root_).substr(0, 3), reader_, refusal))
    return walk_because(refusal);
  volume_open_ = true;
  // Out of memory while the table is set up, the walk serves instead (and
  // the volume is closed, never opened a second time).
  const char* refused = nullptr;
  try {
    table_ = std::make_unique<TableScan>(root_, reader_);
    for (const std::u16string& exclusion : exclusions_) table_->exclude(exclusion);
    for (std::uint64_t i = 0; i < outside_errors_; ++i) table_->count_error();
    refused = table_->open();
  } catch (const std::bad_alloc&) {
    refused = "not enough memory for the table";
  }
  if (refused) return walk_because(refused);
  way_ = ScanWay::table;
}

void ScanDriver::walk_because(std::string reason) {
  table_.reset();
  close_volume();
  auto walk = std::make_unique<Scanner>(root_, platform_);
  for (const std::u16string& exclusion : exclusions_) walk->exclude(exclusion);
  for (std::uint64_t i = 0; i < outside_errors_; ++i) walk->count_error();
  walk_ = std::move(walk);
  reason_ = std::move(reason);
  way_ = ScanWay::walk;
  exclusions_.clear();
}

void ScanDriver::close_volume() noexcept {
  if (!volume_open_) return;
  volume_open_ = false;
  volumes_->close(volumes_->context, reader_);
}

std::string ScanDriver::way_text() const {
  std::string text;
  JsonWriter json(text);
  json.begin_object().key("way").word(way_name(way_));
  json.key("reason").text(utf16_from_utf8(reason_));
  json.end_object();
  return text;
}

}  // namespace mirrow
