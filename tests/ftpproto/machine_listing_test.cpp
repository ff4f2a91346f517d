// The pure parsers of mget and mirror: MLSD facts, the LIST fall-back, PWD, the names that
// may be used, and the times of MDTM and MFMT.
#include "ftpproto/machine_listing.h"

#include <gtest/gtest.h>

#include "ftpproto/remote_times.h"

namespace tarnex {
namespace {

constexpr auto kFile = EntryKind::File;
constexpr auto kFolder = EntryKind::Folder;
constexpr auto kLink = EntryKind::Link;

// What a test compares of an entry.
struct Seen {
  std::string name;
  EntryKind kind;
  int64_t size;      // -1: unknown
  int64_t modified;  // -1: unknown
  TimePrecision precision;
  std::string link_target;
  bool operator==(const Seen&) const = default;
};

std::optional<Seen> SeenOf(const std::optional<DirectoryEntry>& entry) {
  if (!entry) return std::nullopt;
  return Seen{
      entry->name,      entry->kind,       entry->size.value_or(-1), entry->modified.value_or(-1),
      entry->precision, entry->link_target};
}

void PrintTo(const Seen& s, std::ostream* out) {
  *out << "{" << s.name << ", kind " << static_cast<int>(s.kind) << ", size " << s.size << ", time "
       << s.modified << "/" << static_cast<int>(s.precision) << ", -> " << s.link_target << "}";
}

const int64_t kDec8 = UtcSeconds(2026, 12, 8, 9, 30, 0);

TEST(ParseMlsdLine, ReadsFactsInAnyOrderAndKeepsTheWholeName) {
  constexpr auto S = TimePrecision::Second;
  struct Case {
    const char* line;
    std::optional<Seen> entry;
  } cases[] = {
      {"type=file;size=123;modify=20261208093000; name with blanks",
       Seen{"name with blanks", kFile, 123, kDec8, S, ""}},
      {"Modify=20261208093000.123;Size=5;Type=FILE;  two; semis;",
       Seen{" two; semis;", kFile, 5, kDec8, S, ""}},
      {"type=dir;modify=20261208093000;unique=801g; sub", Seen{"sub", kFolder, -1, kDec8, S, ""}},
      {"type=cdir; /pub", Seen{"/pub", EntryKind::FolderItself, -1, -1, TimePrecision::None, ""}},
      {"type=OS.unix=slink:/etc/x; l", Seen{"l", kLink, -1, -1, TimePrecision::None, "/etc/x"}},
      {"type=OS.unix=symlink; l", Seen{"l", kLink, -1, -1, TimePrecision::None, ""}},
      {"type=file;size=x1;modify=2026; odd", Seen{"odd", kFile, -1, -1, TimePrecision::None, ""}},
      {" bare name", Seen{"bare name", EntryKind::Other, -1, -1, TimePrecision::None, ""}},
      {"type=file;size=1;", std::nullopt},  // no blank: no name
      {"type=file; ", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(SeenOf(ParseMlsdLine(c.line)), c.entry) << c.line;
}

TEST(ParseUnixListLine, FindsTheDateFromTheLeftAndKeepsBlanksInNames) {
  const int64_t now = UtcSeconds(2026, 12, 8, 12, 0, 0);
  constexpr auto M = TimePrecision::Minute;
  constexpr auto D = TimePrecision::Day;
  struct Case {
    const char* line;
    std::optional<Seen> entry;
  } cases[] = {
      {"-rw-r--r--   1 user  group   12345 Dec  8 09:30 report.txt",
       Seen{"report.txt", kFile, 12345, kDec8, M, ""}},
      {"-rw-r--r-- 1 u g 10 Jan 1 2000 my file  .txt",
       Seen{"my file  .txt", kFile, 10, UtcSeconds(2000, 1, 1, 0, 0, 0), D, ""}},
      // A date later than now (and a day) belongs to the year before.
      {"-rw-r--r-- 1 u g 10 Dec 20 10:00 old",
       Seen{"old", kFile, 10, UtcSeconds(2025, 12, 20, 10, 0, 0), M, ""}},
      {"drwxr-xr-x 2 user 512 Jan 1 2000 pub",
       Seen{"pub", kFolder, 512, UtcSeconds(2000, 1, 1, 0, 0, 0), D, ""}},
      {"lrwxrwxrwx 1 u g 7 Jan 1 2000 a b -> c d",
       Seen{"a b", kLink, 7, UtcSeconds(2000, 1, 1, 0, 0, 0), D, "c d"}},
      // A name that looks like a date does not mislead: the first date after a size counts.
      {"-rw-r--r-- 1 u g 3 Mar 4 2001 Jan 5 2002 x",
       Seen{"Jan 5 2002 x", kFile, 3, UtcSeconds(2001, 3, 4, 0, 0, 0), D, ""}},
      // An owner named like a month is no date: no size before it.
      {"-rw-r--r-- 1 may g 3 Mar 4 2001 y",
       Seen{"y", kFile, 3, UtcSeconds(2001, 3, 4, 0, 0, 0), D, ""}},
      {"-rw-r--r-- 1 u g 3 Feb 30 2001 bad-day", std::nullopt},
      {"-rw-r--r-- 1 u g 3 Mar 4 2001 ", std::nullopt},  // no name
      {"total 42", std::nullopt},
      {"12-08-26  09:30AM       <DIR>          dos", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(SeenOf(ParseUnixListLine(c.line, now)), c.entry) << c.line;
}

TEST(ParsePwdReply, TakesTheQuotedFolderWithDoubledQuotes) {
  struct Case {
    const char* reply;
    std::optional<std::string> folder;
  } cases[] = {
      {"257 \"/pub\" is the current directory.\r\n", "/pub"},
      {"257 \"/a \"\"b\"\" c\" ok\r\n", "/a \"b\" c"},
      {"257 /pub\r\n", std::nullopt},
      {"257 \"/open\r\n", std::nullopt},
      {"550 \"/x\"\r\n", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParsePwdReply(c.reply), c.folder) << c.reply;
}

TEST(IsSafeEntryName, RefusesWhatCouldLeadOutOfTheFolder) {
  struct Case {
    std::string name;
    bool safe;
  } cases[] = {
      {"report.csv", true},
      {"a b", true},
      {"\x95\x5C.txt", true},  // 表: 0x5C inside
      {"", false},
      {".", false},
      {"..", false},
      {"../x", false},
      {"a/b", false},
      {"/etc", false},
      {"a\\b", false},
      {std::string("a\0b", 3), false},
      {"a\r\nDELE x", false},
      {"\x81/x", false},  // a lead byte does not hide a slash
      {"...", true},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSafeEntryName(c.name), c.safe) << c.name;
}

TEST(RemoteTimes, MdtmRepliesAndMfmtArgumentsAreUtcToTheSecond) {
  struct Case {
    const char* reply;
    std::optional<int64_t> seconds;
  } cases[] = {
      {"213 20261208093000\r\n", kDec8},
      {"213 20261208093000.987\r\n", kDec8},  // the fraction is dropped
      {"213 19700101000000", 0},
      {"213 20240229235960\r\n", UtcSeconds(2024, 2, 29, 23, 59, 59)},  // a leap second
      {"213 20250229000000\r\n", std::nullopt},                         // no such day
      {"213 2026120809300\r\n", std::nullopt},
      {"213 20261208093000x\r\n", std::nullopt},
      {"213 20261208093000.\r\n", std::nullopt},
      {"550 No such file\r\n", std::nullopt},
      {"213 191261208093000\r\n", std::nullopt},  // the old "19" + years since 1900 bug
  };
  for (const auto& c : cases) EXPECT_EQ(ParseMdtmReply(c.reply), c.seconds) << c.reply;
  for (int64_t seconds : {int64_t{0}, kDec8, UtcSeconds(2000, 2, 29, 23, 59, 59)}) {
    EXPECT_EQ(ParseFtpTime(FormatFtpTime(seconds)), seconds);
  }
  EXPECT_EQ(FormatFtpTime(kDec8), "20261208093000");
}

}  // namespace
}  // namespace tarnex
