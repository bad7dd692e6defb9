#pragma once
// An aligned plain-text table: a header row, then rows, columns separated by
// two spaces, widths measured in characters of the UTF-8 text so Cyrillic
// verdicts line up too. The last column is never padded.
#include <cstddef>
#include <string>
#include <vector>

namespace mirrow::host {

enum class Align { left, right };

struct Column {
  std::string header;
  Align align = Align::left;
};

class TextTable {
 public:
  explicit TextTable(std::vector<Column> columns);

  // Missing cells are empty; extra cells are ignored.
  void add_row(std::vector<std::string> cells);
  std::size_t row_count() const { return rows_.size(); }

  // Each line ends with a line feed; trailing spaces are dropped.
  std::string render() const;

 private:
  std::vector<Column> columns_;
  std::vector<std::vector<std::string>> rows_;
};

// Characters in a UTF-8 text (continuation bytes do not count).
std::size_t display_width(const std::string& utf8);

}  // namespace mirrow::host
