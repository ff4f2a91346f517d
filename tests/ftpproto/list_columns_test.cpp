// The columns of a listing line, and what the UNIX long format's parser takes from them.
#include "ftpproto/list_columns.h"

#include <gtest/gtest.h>

#include "ftpproto/machine_listing.h"
#include "ftpproto/remote_times.h"

namespace tarnex {
namespace {

const int64_t kNow = UtcSeconds(2026, 12, 8, 12, 0, 0);

struct Entry {
  EntryKind kind;
  std::string name, link_target;
  int64_t size;
  bool operator==(const Entry&) const = default;
};

std::optional<Entry> EntryOf(std::string_view line) {
  const std::optional<DirectoryEntry> entry = ParseUnixListLine(line, kNow);
  if (!entry) return std::nullopt;
  return Entry{entry->kind, entry->name, entry->link_target, entry->size.value_or(-1)};
}

TEST(ParseUnixListLine, TakesTheEntryOfEachLongFormatLine) {
  struct Case {
    const char* line;
    std::optional<Entry> entry;
  } cases[] = {
      {"-rw-r--r--   1 user  group   12345 Jan  5 12:00 report.txt",
       Entry{EntryKind::File, "report.txt", "", 12345}},
      {"-rw-r--r-- 1 u g 10 Jan 1 2000 my file.txt", Entry{EntryKind::File, "my file.txt", "", 10}},
      {"lrwxrwxrwx 1 u g 7 Jan 1 2000 a -> b", Entry{EntryKind::Link, "a", "b", 7}},
      {"drwxr-xr-x 2 user 512 Jan 1 2000 pub", Entry{EntryKind::Folder, "pub", "", 512}},
      {"-rw-r--r-- 1 u g 10 Jan 1 2000 x.txt  ", Entry{EntryKind::File, "x.txt  ", "", 10}},
      {"-rw-r--r-- 1 u g 10 Jan 1 2000 a", Entry{EntryKind::File, "a", "", 10}},
      {"total 42", std::nullopt},
      {"a b c d e f g", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(EntryOf(c.line), c.entry) << c.line;
}

TEST(SplitListColumns, SplitsAtRunsOfBlanksOnly) {
  const ListColumns list = SplitListColumns(" a\tb  c ");
  EXPECT_EQ(list.count, 4);
  EXPECT_EQ(list.column[1], "");
  EXPECT_EQ(list.column[2], "a\tb");
  EXPECT_EQ(list.column[3], "c");
  EXPECT_EQ(list.column[4], "");

  const ListColumns entry = SplitListColumns("-rw-r--r-- 1 u g 10 Jan 1 2000 a");
  EXPECT_EQ(entry.count, 9);
  EXPECT_EQ(entry.column[9], "a");
}

TEST(SplitListColumns, ColumnsStayWithinTheTable) {
  std::string line;
  for (int i = 1; i <= 40; ++i) line += "w" + std::to_string(i) + "  ";
  line += std::string(300, 'x');
  const ListColumns list = SplitListColumns(line);
  EXPECT_EQ(list.count, 25);
  EXPECT_EQ(list.column[24], "w24");
  // The rest of the line joins the last column, cut at its length limit.
  EXPECT_EQ(list.column[25].rfind("w25 w26 ", 0), 0u);
  EXPECT_EQ(list.column[25].size(), kMaxListColumnLength);
  EXPECT_FALSE(EntryOf(line));  // no permissions: no entry

  const ListColumns long_word = SplitListColumns(std::string(1000, 'y') + " z");
  EXPECT_EQ(long_word.column[1].size(), 255u);
  EXPECT_EQ(long_word.column[2], "z");
}

}  // namespace
}  // namespace tarnex
