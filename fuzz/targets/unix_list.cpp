// The listing parser over arbitrary listing text, one line per LF: the columns it splits a
// line into, and the entry it takes from them.
#include <string>

#include "ftpproto/list_columns.h"
#include "ftpproto/machine_listing.h"
#include "fuzz/fuzz_target.h"

TARNEX_FUZZ_TARGET(unix_list) {
  const std::string_view text = tarnex::fuzz::AsText(data, size);
  constexpr int64_t kNow = 1'796'731'200;  // 2026-12-08 12:00 UTC
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    const tarnex::ListColumns list = tarnex::SplitListColumns(line);

    FUZZ_CHECK(list.count >= 1 && list.count <= tarnex::kMaxListColumns);
    size_t blanks = 0;
    for (int c = 1; c <= tarnex::kMaxListColumns; ++c) {
      FUZZ_CHECK(list.column[c].size() <= tarnex::kMaxListColumnLength);
      // Only the last place of the table holds blanks: the words that found no place of
      // their own, joined by one blank each.
      if (c < tarnex::kMaxListColumns) {
        FUZZ_CHECK(list.column[c].find(' ') == std::string::npos);
      } else {
        FUZZ_CHECK(list.column[c].find("  ") == std::string::npos);
      }
      if (c > list.count) FUZZ_CHECK(list.column[c].empty());
    }
    for (char ch : line) blanks += ch == ' ';
    FUZZ_CHECK(static_cast<size_t>(list.count) <= blanks + 1);

    // An entry's name is the end of its line (a link's with " -> " and its target after it).
    if (const auto entry = tarnex::ParseUnixListLine(line, kNow)) {
      FUZZ_CHECK(!entry->name.empty());
      FUZZ_CHECK(entry->size && *entry->size >= 0);
      FUZZ_CHECK(line.ends_with(entry->name + " -> " + entry->link_target) ||
                 (entry->link_target.empty() && line.ends_with(entry->name)));
      FUZZ_CHECK(entry->kind == tarnex::EntryKind::Link || entry->link_target.empty());
    }
    start = end + 1;
  }
}
