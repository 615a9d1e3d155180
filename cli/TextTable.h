// TextTable: rows of cells printed in aligned columns for people: a header line, then
// one line per row, two spaces between columns, no trailing blanks. Widths count
// display columns (Utf8Text.h), so CJK names line up too.
#ifndef ZQBLOG_CLI_TEXTTABLE_H_
#define ZQBLOG_CLI_TEXTTABLE_H_

#include <cstddef>
#include <string>
#include <vector>

namespace Velmora {
namespace ZQCli {

class TextTable {
 public:
  explicit TextTable(std::vector<std::string> headers);

  // Numbers read better aligned right.
  void SetRightAligned(size_t column);
  // Cells wider than width are cut with "…". REQUIRES: width >= 1.
  void SetMaxWidth(size_t column, size_t width);
  // Missing cells are empty; extra cells are dropped.
  void AddRow(std::vector<std::string> cells);
  size_t RowCount() const { return rows_.size(); }

  // The table, every line ending with "\n".
  std::string Render() const;

 private:
  std::vector<std::string> headers_;
  std::vector<bool> right_;
  std::vector<size_t> max_width_;  // 0: unlimited
  std::vector<std::vector<std::string>> rows_;
};

}  // namespace ZQCli
}  // namespace Velmora

#endif  // ZQBLOG_CLI_TEXTTABLE_H_
