#include "ftpproto/directory_list.h"

namespace tarnex {

void TFTPDirectoryList::Clear() {
  Attributes.clear();
  Names.clear();
  Dates.clear();
  Sizes.clear();
}

void TFTPDirectoryList::ParseLine(std::string_view line) {
  for (auto& column : Columns) column.clear();
  int c = 1;
  size_t p = 0;
  while (p < line.size()) {
    if (line[p] != ' ') {
      if (Columns[c].size() < kMaxColumnLength) Columns[c] += line[p];
      ++p;
      continue;
    }
    while (p < line.size() && line[p] == ' ') ++p;
    if (c < kMaxColumns) {
      ++c;
      Columns[c].clear();
    } else if (p < line.size() && Columns[c].size() < kMaxColumnLength) {
      // The table has no room for more columns: the rest of the line joins the last one,
      // a single blank between its words, so that nothing of it is lost.
      Columns[c] += ' ';
    }
  }
  ColumnCount = c;
}

void TFTPUnixList::ParseLine(std::string_view line) {
  TFTPDirectoryList::ParseLine(line);
  const int n = ColumnCount;
  if (n <= 7) return;
  Names.push_back(Columns[n]);
  Sizes.push_back(Columns[n - 4]);
  Dates.push_back(Columns[n - 3] + " " + Columns[n - 2] + " " + Columns[n - 1]);
  Attributes.push_back(Columns[1]);
}

}  // namespace tarnex
