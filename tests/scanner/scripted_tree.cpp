#include "tests/scanner/scripted_tree.h"

#include <new>
#include <stdexcept>

#include "common/lowercase.h"

namespace mirrow::scan_test {
namespace {

// Strips the long-path prefix that the scanner puts before every path.
std::u16string without_long_prefix(std::u16string path) {
  if (path.starts_with(u"\\\\?\\UNC\\")) return u"\\\\" + path.substr(8);
  if (path.starts_with(u"\\\\?\\")) return path.substr(4);
  throw std::logic_error("system call without long-path form");
}

}  // namespace

ScriptedTree::ScriptedTree() {
  platform_.context = this;
  platform_.open_listing = &ScriptedTree::open_listing;
  platform_.next_entry = &ScriptedTree::next_entry;
  platform_.close_listing = &ScriptedTree::close_listing;
  platform_.read_attributes = &ScriptedTree::read_attributes;
}

std::u16string ScriptedTree::key_of(std::u16string path) const {
  if (!case_sensitive_) lower_in_place(path);
  while (path.size() > 3 && path.back() == u'\\') path.pop_back();
  return path;
}

std::u16string ScriptedTree::parent_of(const std::u16string& key) {
  const std::size_t separator = key.rfind(u'\\');
  if (separator == std::u16string::npos || separator < 2) return {};
  return key.substr(0, separator == 2 ? 3 : separator);
}

std::u16string ScriptedTree::name_of(const std::u16string& path) {
  const std::size_t separator = path.rfind(u'\\');
  return separator == std::u16string::npos ? path : path.substr(separator + 1);
}

ScriptedTree::Node& ScriptedTree::add_node(const std::u16string& path, std::uint32_t attributes) {
  const std::u16string key = key_of(path);
  Node& added = nodes_[key];
  added.name = name_of(path);
  added.attributes = attributes;
  const auto parent = nodes_.find(parent_of(key));
  if (parent != nodes_.end() && parent->first != key) parent->second.children.push_back(key);
  return added;
}

ScriptedTree::Node& ScriptedTree::node(const std::u16string& path) { return nodes_.at(key_of(path)); }

void ScriptedTree::add_directory(const std::u16string& path, std::uint32_t attributes) { add_node(path, attributes); }

void ScriptedTree::add_file(const std::u16string& path, std::uint64_t size, std::int64_t write_time,
                            std::int64_t creation_time, std::uint32_t attributes) {
  Node& file = add_node(path, attributes);
  file.size = size;
  file.write_time = write_time;
  file.creation_time = creation_time;
}

void ScriptedTree::add_wide_directory(const std::u16string& path, std::uint32_t count) {
  add_node(path, attribute_directory).generated_children = count;
}

void ScriptedTree::fail_open(const std::u16string& directory, std::uint32_t error) {
  node(directory).open_error = error;
}

void ScriptedTree::fail_next_after(const std::u16string& directory, std::size_t count, std::uint32_t error) {
  Node& listed = node(directory);
  listed.fail_after = count;
  listed.next_error = error;
}

void ScriptedTree::make_unreadable(const std::u16string& path) { node(path).readable = false; }

std::size_t ScriptedTree::entry_count(const Node& directory) const {
  return 2 + directory.children.size() + directory.generated_children;
}

bool ScriptedTree::entry_at(const Node& directory, std::size_t index, ScanEntry& entry) const {
  if (index >= entry_count(directory)) return false;
  entry = ScanEntry{};
  if (index < 2) {
    entry.name = index == 0 ? u"." : u"..";
    entry.attributes = attribute_directory;
    return true;
  }
  index -= 2;
  if (index < directory.children.size()) {
    const Node& child = nodes_.at(directory.children[index]);
    entry = ScanEntry{child.name, child.attributes, child.size, child.write_time, child.creation_time};
    return true;
  }
  index -= directory.children.size();
  std::string digits = std::to_string(index);
  entry.name = u"d" + std::u16string(digits.begin(), digits.end());
  entry.attributes = attribute_directory;
  return true;
}

ListingHandle ScriptedTree::open_listing(void* context, const std::u16string& pattern, ScanEntry& first,
                                         std::uint32_t& error) {
  auto& tree = *static_cast<ScriptedTree*>(context);
  ++tree.opens;
  std::u16string directory = without_long_prefix(pattern);
  if (!directory.ends_with(u"*")) throw std::logic_error("listing pattern without *");
  directory.pop_back();
  tree.opened.push_back(tree.key_of(directory));
  const auto found = tree.nodes_.find(tree.key_of(directory));
  if (found == tree.nodes_.end() || !(found->second.attributes & attribute_directory)) {
    error = 3;  // path not found
    return nullptr;
  }
  if (found->second.open_error != 0) {
    error = found->second.open_error;
    return nullptr;
  }
  tree.entry_at(found->second, 0, first);
  ++tree.open_listings;
  return new Listing{&found->second, 1};
}

bool ScriptedTree::next_entry(void* context, ListingHandle handle, ScanEntry& entry, std::uint32_t& error) {
  auto& tree = *static_cast<ScriptedTree*>(context);
  auto& listing = *static_cast<Listing*>(handle);
  ++tree.nexts;
  if (tree.throw_on_next_) {
    tree.throw_on_next_ = false;
    throw std::bad_alloc();
  }
  if (listing.position >= listing.directory->fail_after) {
    error = listing.directory->next_error;
    return false;
  }
  if (!tree.entry_at(*listing.directory, listing.position, entry)) {
    error = error_no_more_files;
    return false;
  }
  ++listing.position;
  return true;
}

void ScriptedTree::close_listing(void* context, ListingHandle handle) {
  --static_cast<ScriptedTree*>(context)->open_listings;
  delete static_cast<Listing*>(handle);
}

bool ScriptedTree::read_attributes(void* context, const std::u16string& path, std::uint32_t& attributes) {
  auto& tree = *static_cast<ScriptedTree*>(context);
  tree.attribute_queries.push_back(path);
  const auto found = tree.nodes_.find(tree.key_of(without_long_prefix(path)));
  if (found == tree.nodes_.end() || !found->second.readable) return false;
  attributes = found->second.attributes;
  return true;
}

std::vector<std::string> steps_until_done(Scanner& scanner, std::size_t limit) {
  std::vector<std::string> batches;
  while (batches.size() < limit) {
    batches.push_back(scanner.step());
    if (batches.back().find("\"done\":true") != std::string::npos) break;
  }
  return batches;
}

}  // namespace mirrow::scan_test
