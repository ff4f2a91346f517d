#include "ftpproto/list_columns.h"

namespace tarnex {

ListColumns SplitListColumns(std::string_view line) {
  ListColumns columns;
  auto& column = columns.column;
  int c = 1;
  size_t p = 0;
  while (p < line.size()) {
    if (line[p] != ' ') {
      if (column[c].size() < kMaxListColumnLength) column[c] += line[p];
      ++p;
      continue;
    }
    while (p < line.size() && line[p] == ' ') ++p;
    if (c < kMaxListColumns) {
      ++c;
    } else if (p < line.size() && column[c].size() < kMaxListColumnLength) {
      // The table has no room for more columns: the rest of the line joins the last one,
      // a single blank between its words, so that nothing of it is lost.
      column[c] += ' ';
    }
  }
  columns.count = c;
  return columns;
}

}  // namespace tarnex
