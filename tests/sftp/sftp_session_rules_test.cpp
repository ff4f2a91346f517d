// The rules a session keeps around the packets: request ids and their replies, the reply
// codes a status stands for, the listing lines of NAME entries.
#include <gtest/gtest.h>

#include <vector>

#include "ftpproto/machine_listing.h"
#include "sftp/sftp_listing.h"
#include "sftp/sftp_outcome.h"
#include "sftp/sftp_protocol.h"
#include "sftp/sftp_request_table.h"

namespace tarnex::sftp {
namespace {

TEST(RequestTable, EachReplyAnswersTheOneRequestWithItsIdAndAKindItMayGet) {
  RequestTable table(3);
  const auto read = table.Begin(RequestKind::Read);
  const auto open = table.Begin(RequestKind::Open);
  const auto limits = table.Begin(RequestKind::Limits);
  ASSERT_TRUE(read && open && limits);
  EXPECT_NE(*read, *open);
  EXPECT_FALSE(table.Begin(RequestKind::Stat)) << "no more than three in flight";

  struct Case {
    const char* what;
    uint32_t id;
    uint8_t type;
    bool matches;
  } cases[] = {
      {"an id never handed out", 999, SSH_FXP_STATUS, false},
      {"a HANDLE to a READ", *read, SSH_FXP_HANDLE, false},
      {"a NAME to an OPEN", *open, SSH_FXP_NAME, false},
      {"DATA to a READ", *read, SSH_FXP_DATA, true},
      {"a second reply to the READ", *read, SSH_FXP_DATA, false},
      {"a STATUS to an OPEN", *open, SSH_FXP_STATUS, true},
      {"an EXTENDED_REPLY to limits", *limits, SSH_FXP_EXTENDED_REPLY, true},
  };
  for (const auto& c : cases) {
    const auto match = table.Match(c.id, c.type);
    EXPECT_EQ(bool(match), c.matches) << c.what;
    if (!match) {
      EXPECT_EQ(match.error().fault, CodecFault::UnexpectedReply) << c.what;
    }
  }
  EXPECT_EQ(table.InFlight(), 0u);
}

TEST(RequestTable, AReplyToARequestGivenUpOnIsDroppedAndNeverAnswersAnother) {
  RequestTable table(2);
  const uint32_t given_up = *table.Begin(RequestKind::Read);
  EXPECT_TRUE(table.Abandon(given_up));
  EXPECT_FALSE(table.Abandon(12345));
  // Ids go round: the one given up on is skipped while its reply is still owed.
  for (int round = 0; round < 5; ++round) {
    const uint32_t id = *table.Begin(RequestKind::Read);
    EXPECT_NE(id, given_up);
    EXPECT_FALSE(table.Begin(RequestKind::Read)) << "the request given up on still counts";
    ASSERT_TRUE(table.Match(id, SSH_FXP_DATA));
  }
  const auto late = table.Match(given_up, SSH_FXP_DATA);
  ASSERT_TRUE(late);
  EXPECT_TRUE(late->late);
  EXPECT_EQ(late->kind, RequestKind::Read);
  EXPECT_EQ(table.InFlight(), 0u);
  EXPECT_EQ(table.Abandoned(), 0u);
  EXPECT_FALSE(table.Match(given_up, SSH_FXP_DATA)) << "answered once only";
}

TEST(RequestTable, IdsGoRoundPastTheLargest) {
  RequestTable table(4, 0xfffffffe);
  const uint32_t kept = *table.Begin(RequestKind::Stat);
  ASSERT_TRUE(table.Abandon(kept));
  std::vector<uint32_t> ids;
  for (int n = 0; n < 4; ++n) {
    ids.push_back(*table.Begin(RequestKind::Stat));
    ASSERT_TRUE(table.Match(ids.back(), SSH_FXP_STATUS));
  }
  EXPECT_EQ(ids, (std::vector<uint32_t>{0xffffffff, 0, 1, 2}));
  EXPECT_TRUE(table.Match(kept, SSH_FXP_ATTRS)->late);
}

TEST(OutcomeOfStatus, EachStatusHasTheReplyCodeTheFtpPathWritesForTheSameOutcome) {
  struct Case {
    uint32_t status;
    const char* message;
    Action action;
    const char* line;
  } cases[] = {
      {SSH_FX_OK, "Success", Action::Login, "230 Success"},
      {SSH_FX_OK, "", Action::ChangeDir, "250 OK"},
      {SSH_FX_OK, "", Action::MakeDir, "257 OK"},
      {SSH_FX_OK, "", Action::RemoveDir, "250 OK"},
      {SSH_FX_OK, "", Action::Delete, "250 OK"},
      {SSH_FX_OK, "", Action::Rename, "250 OK"},
      {SSH_FX_OK, "", Action::OpenTransfer, "150 OK"},
      {SSH_FX_OK, "", Action::EndTransfer, "226 OK"},
      {SSH_FX_OK, "", Action::FileStatus, "213 OK"},
      {SSH_FX_OK, "", Action::Command, "200 OK"},
      {SSH_FX_EOF, "End of file", Action::EndTransfer, "226 End of file"},
      {SSH_FX_EOF, "", Action::Delete, "550 End of file"},
      {SSH_FX_NO_SUCH_FILE, "No such file", Action::OpenTransfer, "550 No such file"},
      {SSH_FX_NO_SUCH_FILE, "", Action::Delete, "550 No such file"},
      {SSH_FX_PERMISSION_DENIED, "Permission denied", Action::MakeDir, "550 Permission denied"},
      {SSH_FX_FAILURE, "Directory not empty", Action::RemoveDir, "550 Directory not empty"},
      {SSH_FX_BAD_MESSAGE, "", Action::Command, "500 Bad message"},
      {SSH_FX_NO_CONNECTION, "", Action::Command, "421 No connection"},
      {SSH_FX_CONNECTION_LOST, "", Action::EndTransfer, "421 Connection lost"},
      {SSH_FX_OP_UNSUPPORTED, "", Action::Command, "502 Operation unsupported"},
      {9, "", Action::Command, "550 Unknown status 9"},
      {SSH_FX_FAILURE, "first line\r\nsecond line", Action::Delete, "550 first line"},
  };
  for (const auto& c : cases) {
    const Outcome outcome = OutcomeOfStatus(c.status, c.message, c.action);
    EXPECT_EQ(outcome.line, c.line) << c.status;
    EXPECT_EQ(outcome.code, std::stoi(std::string(c.line).substr(0, 3))) << c.line;
    EXPECT_EQ(outcome.Succeeded(), outcome.code < 400) << c.line;
  }
}

constexpr int64_t kNow = 1'796'731'200;  // 2026-12-08 12:00 UTC

TEST(FormatListLine, LongFormatLinesThatTheFtpListingParserReadsBack) {
  auto attributes = [](uint32_t mode, uint64_t size, uint32_t mtime) {
    FileAttributes a;
    a.permissions = mode;
    a.size = size;
    a.owner = OwnerIds{1000, 100};
    a.times = FileTimes{mtime, mtime};
    return a;
  };
  struct Case {
    const char* name;
    FileAttributes attributes;
    const char* line;
    EntryKind kind;
  } cases[] = {
      {"report.txt", attributes(0100644, 1234, kNow - 3600),
       "-rw-r--r--    1 1000     100          1234 Dec  8 11:00 report.txt", EntryKind::File},
      {"old dir", attributes(040755, 4096, 1'700'000'000),
       "drwxr-xr-x    1 1000     100          4096 Nov 14  2023 old dir", EntryKind::Folder},
      {"link", attributes(0120777, 7, kNow - 86400 * 30),
       "lrwxrwxrwx    1 1000     100             7 Nov  8 12:00 link", EntryKind::Link},
      {"tool", attributes(0106755, 10, kNow),
       "-rwsr-sr-x    1 1000     100            10 Dec  8 12:00 tool", EntryKind::File},
      {"tmp", attributes(041777, 0, kNow + 86400 * 2),  // in the future: the year
       "drwxrwxrwt    1 1000     100             0 Dec 10  2026 tmp", EntryKind::Folder},
      {"fifo", attributes(0010600, 0, 0),
       "prw-------    1 1000     100             0 Jan  1  1970 fifo", EntryKind::Other},
  };
  for (const auto& c : cases) {
    const std::string line = FormatListLine(c.name, c.attributes, kNow);
    EXPECT_EQ(line, c.line);
    const auto entry = ParseUnixListLine(line, kNow);
    ASSERT_TRUE(entry) << line;
    EXPECT_EQ(entry->name, c.name);
    EXPECT_EQ(entry->kind, c.kind) << line;
    EXPECT_EQ(entry->size, static_cast<int64_t>(*c.attributes.size)) << line;
    // The listing shows the minute (or the day): the time read back is the time shown.
    const int64_t mtime = c.attributes.times->mtime;
    EXPECT_EQ(entry->modified, entry->precision == TimePrecision::Minute ? mtime - mtime % 60
                                                                         : mtime - mtime % 86400)
        << line;
  }
  EXPECT_EQ(FormatListLine("x", {}, kNow),
            "?---------    1 ?        ?               ? ??? ?? ????? x");
}

TEST(ListLineOf, TheServersLongnameWhenItIsALongFormatLineOfTheEntry) {
  FileAttributes a;
  a.permissions = 0100600;
  a.size = 5;
  a.times = FileTimes{0, static_cast<uint32_t>(kNow)};
  const std::string made = "-rw-------    1 ?        ?               5 Dec  8 12:00 a b";
  struct Case {
    const char* longname;
    bool used;
  } cases[] = {
      {"-rw-------    1 joe      staff           5 Dec  8 12:00 a b", true},
      {"lrwxrwxrwx    1 joe      staff           5 Dec  8 12:00 a b -> c", true},
      {"", false},
      {"a b", false},
      {"-rw------- 1 joe staff 5 Dec  8 12:00 other", false},
      {"-rw-------    1 joe      staff           5 Dec  8 12:00 a b\r\nforged", false},
      {"x rw------- 1 joe staff 5 Dec  8 12:00 a b", false},
  };
  for (const auto& c : cases) {
    const NameEntry entry{"a b", c.longname, a};
    EXPECT_EQ(ListLineOf(entry, kNow), c.used ? std::string(c.longname) : made) << c.longname;
  }
}

}  // namespace
}  // namespace tarnex::sftp
