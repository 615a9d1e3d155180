#include "cli/TextTable.h"

#include <algorithm>

#include "cli/Utf8Text.h"

namespace Velmora {
namespace ZQCli {

TextTable::TextTable(std::vector<std::string> headers)
    : headers_(std::move(headers)),
      right_(headers_.size(), false),
      max_width_(headers_.size(), 0) {}

void TextTable::SetRightAligned(size_t column) {
  if (column < right_.size()) right_[column] = true;
}

void TextTable::SetMaxWidth(size_t column, size_t width) {
  if (column < max_width_.size()) max_width_[column] = width;
}

void TextTable::AddRow(std::vector<std::string> cells) {
  cells.resize(headers_.size());
  for (size_t i = 0; i < cells.size(); ++i) {
    // A cell is one line: line breaks inside texts would break the columns.
    std::replace(cells[i].begin(), cells[i].end(), '\n', ' ');
    std::replace(cells[i].begin(), cells[i].end(), '\r', ' ');
    std::replace(cells[i].begin(), cells[i].end(), '\t', ' ');
    if (max_width_[i] != 0) cells[i] = FitWidth(cells[i], max_width_[i]);
  }
  rows_.push_back(std::move(cells));
}

std::string TextTable::Render() const {
  const size_t columns = headers_.size();
  std::vector<size_t> width(columns, 0);
  for (size_t i = 0; i < columns; ++i) width[i] = DisplayWidth(headers_[i]);
  for (const auto& row : rows_) {
    for (size_t i = 0; i < columns; ++i) width[i] = std::max(width[i], DisplayWidth(row[i]));
  }
  auto line = [&](const std::vector<std::string>& cells) {
    std::string out;
    for (size_t i = 0; i < columns; ++i) {
      const size_t pad = width[i] - DisplayWidth(cells[i]);
      if (i > 0) out += "  ";
      if (right_[i]) out.append(pad, ' ');
      out += cells[i];
      if (!right_[i]) out.append(pad, ' ');
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out + "\n";
  };
  std::string out = line(headers_);
  for (const auto& row : rows_) out += line(row);
  return out;
}

}  // namespace ZQCli
}  // namespace Velmora
