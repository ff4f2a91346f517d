// Splits the lines of a directory listing into columns, and the UNIX long format into
// attributes, name, date and size.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace tarnex {

class TFTPDirectoryList {
 public:
  static constexpr int kMaxColumns = 25;
  static constexpr size_t kMaxColumnLength = 255;

  virtual ~TFTPDirectoryList() = default;

  // Empties the four lists; the columns keep the last line.
  void Clear();
  // Splits `line` into Columns (1-based) and ColumnCount; adds no entry.
  virtual void ParseLine(std::string_view line);

  std::vector<std::string> Attributes;
  std::vector<std::string> Names;
  std::vector<std::string> Dates;
  std::vector<std::string> Sizes;
  // Columns[0] is unused so that column c is Columns[c].
  std::array<std::string, kMaxColumns + 1> Columns;
  int ColumnCount = 0;
};

class TFTPUnixList : public TFTPDirectoryList {
 public:
  // Splits, then adds one entry when the line has at least 8 columns (counted from the end:
  // name, date of three columns, size).
  void ParseLine(std::string_view line) override;
};

}  // namespace tarnex
