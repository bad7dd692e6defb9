#include "host/text_table.h"

#include <algorithm>

namespace mirrow::host {

std::size_t display_width(const std::string& utf8) {
  std::size_t width = 0;
  for (const char c : utf8)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++width;
  return width;
}

TextTable::TextTable(std::vector<Column> columns) : columns_(std::move(columns)) {}

void TextTable::add_row(std::vector<std::string> cells) {
  cells.resize(columns_.size());
  rows_.push_back(std::move(cells));
}

std::string TextTable::render() const {
  std::vector<std::size_t> widths;
  for (const Column& column : columns_) widths.push_back(display_width(column.header));
  for (const auto& row : rows_)
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], display_width(row[i]));

  std::string out;
  const auto line = [&](const std::vector<std::string>& cells) {
    std::string text;
    for (std::size_t i = 0; i < cells.size(); ++i) {
      if (i != 0) text += "  ";
      const std::size_t padding = widths[i] - display_width(cells[i]);
      const bool last = i + 1 == cells.size();
      if (columns_[i].align == Align::right) text.append(padding, ' ');
      text += cells[i];
      if (columns_[i].align == Align::left && !last) text.append(padding, ' ');
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    out += text;
    out += '\n';
  };
  std::vector<std::string> headers;
  for (const Column& column : columns_) headers.push_back(column.header);
  line(headers);
  for (const auto& row : rows_) line(row);
  return out;
}

}  // namespace mirrow::host
