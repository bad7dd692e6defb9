#include "host/scan_tally.h"

#include <algorithm>

#include "host/json_value.h"

namespace mirrow::host {
namespace {

bool larger(const SizedPath& a, const SizedPath& b) {
  return a.bytes != b.bytes ? a.bytes > b.bytes : a.path < b.path;
}

std::vector<std::u16string> strings_of(const JsonValue& array) {
  std::vector<std::u16string> out;
  for (const JsonValue& item : array.items) out.push_back(item.as_text());
  return out;
}

}  // namespace

ScanTally::ScanTally(std::u16string root, std::size_t top) : root_(normalize_path(std::move(root))), top_(top) {}

bool ScanTally::add_batch(std::string_view text) {
  const auto batch = parse_json(text);
  if (!batch || !batch->is_object() || !(*batch)["records"].is_array()) return false;
  for (const JsonValue& record : (*batch)["records"].items) {
    const auto size = record[1][0].as_u64();
    if (record[0].kind == JsonValue::Kind::string && size) add_file(record[0].as_text(), *size);
  }
  // The totals, samples and skipped paths are the scanner's own running
  // figures, repeated in every batch: take the latest.
  files_ = (*batch)["files"].as_u64().value_or(files_);
  bytes_ = (*batch)["bytes"].as_u64().value_or(bytes_);
  errors_ = (*batch)["errors"].as_u64().value_or(errors_);
  done_ = (*batch)["done"].boolean;
  samples_ = strings_of((*batch)["samples"]);
  skipped_ = strings_of((*batch)["skipped"]);
  return true;
}

void ScanTally::add_file(const std::u16string& path, std::uint64_t size) {
  add_to_folders(path, size);
  const auto smaller_first = [](const SizedPath& a, const SizedPath& b) { return larger(a, b); };
  if (top_files_.size() < top_) {
    top_files_.push_back({path, size, 1});
    std::push_heap(top_files_.begin(), top_files_.end(), smaller_first);
  } else if (!top_files_.empty() && larger(SizedPath{path, size, 1}, top_files_.front())) {
    std::pop_heap(top_files_.begin(), top_files_.end(), smaller_first);
    top_files_.back() = {path, size, 1};
    std::push_heap(top_files_.begin(), top_files_.end(), smaller_first);
  }
}

// Every folder between the file and the root (the root itself excluded,
// since its size is the total) grows by the file's size.
void ScanTally::add_to_folders(std::u16string_view file_path, std::uint64_t size) {
  std::u16string_view folder = file_path;
  for (;;) {
    const std::size_t slash = folder.rfind(u'\\');
    if (slash == std::u16string_view::npos) return;
    folder = folder.substr(0, slash);
    if (folder.size() <= root_.size() || !is_under(folder, root_)) return;
    auto found = folders_.find(std::u16string(folder));
    if (found == folders_.end()) {
      if (folders_.size() >= kFolderCap) {
        folder_cap_reached_ = true;
        continue;
      }
      found = folders_.emplace(std::u16string(folder), SizedPath{std::u16string(folder), 0, 0}).first;
    }
    found->second.bytes += size;
    found->second.files += 1;
  }
}

std::vector<SizedPath> ScanTally::largest_folders() const {
  std::vector<SizedPath> all;
  all.reserve(folders_.size());
  for (const auto& entry : folders_) all.push_back(entry.second);
  const std::size_t count = std::min(top_, all.size());
  std::partial_sort(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(count), all.end(), larger);
  all.resize(count);
  return all;
}

std::vector<SizedPath> ScanTally::largest_files() const {
  std::vector<SizedPath> files = top_files_;
  std::sort(files.begin(), files.end(), larger);
  return files;
}

}  // namespace mirrow::host
