#include "ftpproto/directory_list.h"

#include <gtest/gtest.h>

namespace tarnex {
namespace {

struct Entry {
  std::string attributes, name, date, size;
  bool operator==(const Entry&) const = default;
};

std::vector<Entry> Entries(const TFTPDirectoryList& list) {
  std::vector<Entry> entries;
  for (size_t i = 0; i < list.Names.size(); ++i) {
    entries.push_back({list.Attributes[i], list.Names[i], list.Dates[i], list.Sizes[i]});
  }
  return entries;
}

TEST(TFTPUnixList, TakesColumnsCountedFromTheEnd) {
  struct Case {
    const char* line;
    std::vector<Entry> entries;
  } cases[] = {
      {"-rw-r--r--   1 user  group   12345 Jan  5 12:00 report.txt",
       {{"-rw-r--r--", "report.txt", "Jan 5 12:00", "12345"}}},
      {"-rw-r--r-- 1 u g 10 Jan 1 2000 my file.txt",
       {{"-rw-r--r--", "file.txt", "1 2000 my", "Jan"}}},
      {"lrwxrwxrwx 1 u g 7 Jan 1 2000 a -> b", {{"lrwxrwxrwx", "b", "2000 a ->", "1"}}},
      {"drwxr-xr-x 2 user 512 Jan 1 2000 pub", {{"drwxr-xr-x", "pub", "Jan 1 2000", "512"}}},
      {"-rw-r--r-- 1 u g 10 Jan 1 2000 x.txt  ", {{"-rw-r--r--", "", "1 2000 x.txt", "Jan"}}},
      {"total 42", {}},
      {"a b c d e f g", {}},  // 7 columns
      {"", {}},
  };
  for (const auto& c : cases) {
    TFTPUnixList list;
    list.ParseLine(c.line);
    EXPECT_EQ(Entries(list), c.entries) << c.line;
  }
}

TEST(TFTPDirectoryList, SplitsAtRunsOfBlanksOnly) {
  TFTPDirectoryList list;
  list.ParseLine(" a\tb  c ");
  EXPECT_EQ(list.ColumnCount, 4);
  EXPECT_EQ(list.Columns[1], "");
  EXPECT_EQ(list.Columns[2], "a\tb");
  EXPECT_EQ(list.Columns[3], "c");
  EXPECT_EQ(list.Columns[4], "");
  EXPECT_TRUE(list.Names.empty());  // the base class adds no entry
}

TEST(TFTPDirectoryList, ColumnsStayWithinTheTable) {
  std::string line;
  for (int i = 1; i <= 40; ++i) line += "w" + std::to_string(i) + "  ";
  line += std::string(300, 'x');
  TFTPUnixList list;
  list.ParseLine(line);
  EXPECT_EQ(list.ColumnCount, 25);
  EXPECT_EQ(list.Columns[24], "w24");
  // The rest of the line joins the last column, cut at its length limit.
  EXPECT_EQ(list.Columns[25].rfind("w25 w26 ", 0), 0u);
  EXPECT_EQ(list.Columns[25].size(), TFTPDirectoryList::kMaxColumnLength);
  ASSERT_EQ(list.Names.size(), 1u);
  EXPECT_EQ(list.Sizes[0], "w21");

  TFTPDirectoryList long_word;
  long_word.ParseLine(std::string(1000, 'y') + " z");
  EXPECT_EQ(long_word.Columns[1].size(), 255u);
  EXPECT_EQ(long_word.Columns[2], "z");
}

TEST(TFTPDirectoryList, ClearKeepsTheLastColumns) {
  TFTPUnixList list;
  list.ParseLine("-rw-r--r-- 1 u g 10 Jan 1 2000 a");
  list.Clear();
  EXPECT_TRUE(list.Names.empty() && list.Sizes.empty() && list.Dates.empty() &&
              list.Attributes.empty());
  EXPECT_EQ(list.ColumnCount, 9);
  EXPECT_EQ(list.Columns[9], "a");
}

}  // namespace
}  // namespace tarnex
