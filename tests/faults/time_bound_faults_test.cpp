// The time-out bounds every line: however a server falls silent (no data connection, data that
// stops, an upload it stops taking, a command it never answers, ABOR it never answers), the
// line that meets it ends within the time-out and the second in which the check comes, and so
// does the next line, which settles what the first one left owed.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>

#include "ftpproto/machine_listing.h"
#include "tests/faults/fault_fixture.h"

namespace tarnex::faults {
namespace {

using namespace std::chrono_literals;
using testing::Expect;
using testing::FakeFtpServer;
using testing::Session;
using testing::Silence;
namespace Data = testing::Data;

struct SilentLine {
  const char* name;
  bool passive;
  Steps steps;  // after the login
  std::function<int32_t(TLowFTP&, const std::string& folder)> line;
};

TEST_F(FacadeFaultTest, EveryLineEndsWithinTheTimeOutAndASecond) {
  WriteBytes(dir_ / "big.bin", std::string(64 << 20, 'u'));  // more than the buffers on the way
  auto download = [](TLowFTP& ftp, const std::string& folder) {
    return ftp.Download("a", folder + "/a");
  };
  const SilentLine lines[] = {
      {"no data connection after RETR, ABOR unanswered",
       false,
       {Expect("PORT *", "200 ok\r\n"), Expect("RETR a", "150 ok\r\n", Data::NeverConnect()),
        Silence()},
       download},
      {"a passive data connection that never speaks, ABOR unanswered",
       true,
       {Expect("EPSV", "229 ok ({epsv})\r\n"), Expect("RETR a", "150 ok\r\n", Data::NeverConnect()),
        Silence()},
       download},
      {"data that stops coming, ABOR unanswered",
       false,
       {Expect("PORT *", "200 ok\r\n"),
        Expect("RETR a", "150 ok\r\n", Data::Send("abc").ThenHold().InBackground()), Silence()},
       download},
      {"PORT never answered", false, {Expect("PORT *"), Silence()}, download},
      {"an upload the server stops taking",
       false,
       {Expect("PORT *", "200 ok\r\n"),
        Expect("STOR big.bin", "150 ok\r\n", Data::Stall().InBackground()), Silence()},
       [](TLowFTP& ftp, const std::string& folder) {
         return ftp.Upload(folder + "/big.bin", "big.bin");
       }},
      {"a listing inside a folder that stops, ABOR unanswered",
       false,
       {Expect("FEAT", "211-Features:\r\n SIZE\r\n211 End\r\n"),
        Expect("PWD", "257 \"/\" is the current directory\r\n"), Expect("CWD sub", "250 ok\r\n"),
        Expect("PORT *", "200 ok\r\n"),
        Expect("LIST", "150 ok\r\n",
               Data::Send("-rw-r--r-- 1 u g 1 Jan 1 2000 a\r\n").ThenHold().InBackground()),
        Silence()},
       [](TLowFTP& ftp, const std::string&) {
         std::vector<DirectoryEntry> entries;
         std::vector<std::string> not_understood;
         return ftp.ListEntries("sub", entries, not_understood);
       }},
  };
  for (const SilentLine& c : lines) {
    SCOPED_TRACE(c.name);
    Fresh();
    ftp().SetWaitTimeout(kLineTimeoutMs);
    FakeFtpServer server({Session(LoggedIn(c.steps))}, {.io_timeout = 15s});
    Login(server, c.passive);
    const Timed first = Time([&] { return c.line(ftp(), dir_.path().string()); });
    EXPECT_EQ(first.result, 999) << Joined(log_);
    EXPECT_GE(first.ms, kLineTimeoutMs);
    EXPECT_LE(first.ms, kOneLineMs) << Joined(log_);
    const Timed next = Time([&] { return ftp().Delete("x"); });
    EXPECT_EQ(next.result, 999) << Joined(log_);
    EXPECT_LE(next.ms, kOneLineMs) << Joined(log_);
  }
}

}  // namespace
}  // namespace tarnex::faults
