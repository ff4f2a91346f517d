// The listing parser over arbitrary listing text, one line per LF.
#include <string>

#include "ftpproto/directory_list.h"
#include "fuzz/fuzz_target.h"

TARNEX_FUZZ_TARGET(unix_list) {
  const std::string_view text = tarnex::fuzz::AsText(data, size);
  tarnex::TFTPUnixList list;
  size_t entries = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    list.ParseLine(line);

    FUZZ_CHECK(list.ColumnCount >= 1 && list.ColumnCount <= tarnex::TFTPDirectoryList::kMaxColumns);
    size_t blanks = 0;
    for (int c = 1; c <= tarnex::TFTPDirectoryList::kMaxColumns; ++c) {
      FUZZ_CHECK(list.Columns[c].size() <= tarnex::TFTPDirectoryList::kMaxColumnLength);
      // Only the last place of the table holds blanks: the words that found no place of
      // their own, joined by one blank each.
      if (c < tarnex::TFTPDirectoryList::kMaxColumns) {
        FUZZ_CHECK(list.Columns[c].find(' ') == std::string::npos);
      } else {
        FUZZ_CHECK(list.Columns[c].find("  ") == std::string::npos);
      }
      if (c > list.ColumnCount) FUZZ_CHECK(list.Columns[c].empty());
    }
    for (char ch : line) blanks += ch == ' ';
    FUZZ_CHECK(static_cast<size_t>(list.ColumnCount) <= blanks + 1);
    if (list.ColumnCount >= 8) {
      ++entries;
      FUZZ_CHECK(list.Names.back() == list.Columns[list.ColumnCount]);
      FUZZ_CHECK(list.Attributes.back() == list.Columns[1]);
    }
    FUZZ_CHECK(list.Names.size() == entries && list.Sizes.size() == entries &&
               list.Dates.size() == entries && list.Attributes.size() == entries);
    start = end + 1;
  }
  list.Clear();
  FUZZ_CHECK(list.Names.empty() && list.Sizes.empty() && list.Dates.empty() &&
             list.Attributes.empty());
}
