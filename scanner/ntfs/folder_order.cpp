#include "scanner/ntfs/folder_order.h"

#include <algorithm>

namespace mirrow::ntfs {
namespace {

// How many units every name shares from its start once upper-cased.
std::size_t shared_upper_prefix(const std::vector<const char16_t*>& texts, const std::vector<std::uint32_t>& lengths,
                                const Collation& collation) {
  std::size_t shared = lengths[0];
  for (std::size_t n = 1; n < texts.size() && shared > 0; ++n) {
    std::size_t i = 0;
    const std::size_t limit = std::min<std::size_t>(shared, lengths[n]);
    while (i < limit && (texts[n][i] == texts[0][i] || collation.upcase(texts[n][i]) == collation.upcase(texts[0][i])))
      ++i;
    shared = i;
  }
  return shared;
}

std::uint64_t key_after(const char16_t* text, std::size_t length, std::size_t from, const Collation& collation) {
  std::uint64_t key = 0;
  for (std::size_t i = from; i < from + 4; ++i) key = (key << 16) | (i < length ? collation.upcase(text[i]) : 0u);
  return key;
}

}  // namespace

void FolderOrder::sort(std::uint32_t* begin, std::uint32_t* end, const FileTable& table, const Collation& collation) {
  const std::size_t count = static_cast<std::size_t>(end - begin);
  if (count < 2) return;
  items_.resize(count);
  std::vector<const char16_t*> texts(count);
  std::vector<std::uint32_t> lengths(count);
  for (std::size_t i = 0; i < count; ++i) {
    const NameEntry& name = table.name(begin[i]);
    texts[i] = table.text_of(name);
    lengths[i] = name.length;
  }
  const std::size_t shared = shared_upper_prefix(texts, lengths, collation);
  for (std::size_t i = 0; i < count; ++i)
    items_[i] = {key_after(texts[i], lengths[i], shared, collation), texts[i], begin[i], lengths[i]};
  std::sort(items_.begin(), items_.end(), [&](const Item& a, const Item& b) {
    if (a.key != b.key) return a.key < b.key;
    return collation.compare(a.text, a.length, b.text, b.length) < 0;
  });
  for (std::size_t i = 0; i < count; ++i) begin[i] = items_[i].index;
}

}  // namespace mirrow::ntfs
