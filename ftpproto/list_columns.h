// The columns of a directory listing line, as the UNIX long format's parser reads them.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace tarnex {

inline constexpr int kMaxListColumns = 25;
inline constexpr size_t kMaxListColumnLength = 255;

struct ListColumns {
  // column[0] is unused, so that column c is column[c]; a column holds at most
  // kMaxListColumnLength bytes.
  std::array<std::string, kMaxListColumns + 1> column;
  int count = 0;
};

// Splits `line` at runs of blanks (only ' ' counts; a tab is part of a word). Blanks at the
// start give an empty first column, blanks at the end an empty last one. Words beyond the
// last place of the table join it, one blank between each, so that nothing is lost.
ListColumns SplitListColumns(std::string_view line);

}  // namespace tarnex
