#include "tests/scanner/batch_text.h"

#include <stdexcept>

namespace mirrow::scan_test {
namespace {

// Index just past the JSON string that starts at begin (a quote).
std::size_t end_of_string(std::string_view text, std::size_t begin) {
  for (std::size_t i = begin + 1; i < text.size(); ++i) {
    if (text[i] == '\\') {
      ++i;
    } else if (text[i] == '"') {
      return i + 1;
    }
  }
  throw std::runtime_error("unterminated string");
}

// Index just past the array or object that starts at begin.
std::size_t end_of_nesting(std::string_view text, std::size_t begin) {
  int depth = 0;
  for (std::size_t i = begin; i < text.size(); ++i) {
    if (text[i] == '"') {
      i = end_of_string(text, i) - 1;
    } else if (text[i] == '[' || text[i] == '{') {
      ++depth;
    } else if ((text[i] == ']' || text[i] == '}') && --depth == 0) {
      return i + 1;
    }
  }
  throw std::runtime_error("unbalanced batch");
}

}  // namespace

std::vector<std::string> record_paths(std::string_view batch) {
  const std::string_view head = "{\"records\":[";
  if (!batch.starts_with(head)) throw std::runtime_error("batch without records head");
  std::vector<std::string> paths;
  std::size_t at = head.size();
  while (batch.at(at) == '[') {
    const std::size_t path_end = end_of_string(batch, at + 1);
    paths.emplace_back(batch.substr(at + 2, path_end - at - 3));
    at = end_of_nesting(batch, at);
    if (batch.at(at) == ',') ++at;
  }
  return paths;
}

std::string value_of(std::string_view batch, std::string_view key) {
  const std::string quoted_key = "\"" + std::string(key) + "\":";
  const std::size_t found = batch.find(quoted_key);
  if (found == std::string_view::npos) throw std::runtime_error("key missing: " + std::string(key));
  const std::size_t begin = found + quoted_key.size();
  std::size_t end = begin;
  if (batch[begin] == '[' || batch[begin] == '{') {
    end = end_of_nesting(batch, begin);
  } else {
    while (end < batch.size() && batch[end] != ',' && batch[end] != '}') ++end;
  }
  return std::string(batch.substr(begin, end - begin));
}

}  // namespace mirrow::scan_test
