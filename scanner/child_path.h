#pragma once
// A folder's entry path as both ways of scanning spell it: the folder, a
// back-slash unless the folder already ends with one, the entry's name.
#include <string>
#include <string_view>

namespace mirrow {

inline void append_child(std::u16string& out, std::u16string_view directory, std::u16string_view name) {
  out.assign(directory);
  if (out.empty() || out.back() != u'\\') out.push_back(u'\\');
  out.append(name);
}

}  // namespace mirrow
