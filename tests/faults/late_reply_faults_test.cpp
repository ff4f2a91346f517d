// Unattended runs must never take one answer for another, never write outside the local
// folder and never take data from anybody but the server: late replies, downloads without a
// local name, short binary transfers, a silent CWD before a listing, and strangers on the
// active data port.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "tests/faults/fault_fixture.h"

namespace tarnex::faults {
namespace {

using namespace std::chrono_literals;
using testing::Expect;
using testing::FakeFtpServer;
using testing::Pause;
using testing::Reply;
using testing::Session;
using testing::Silence;
namespace Data = testing::Data;

struct LateReply {
  const char* name;
  bool transfer;        // the first command is a download (else NOOP)
  Steps before_late;    // after the login, up to the moment the client has given up
  Steps late;           // what the server sends then
  int32_t next;         // what the next command, DELE x, then returns
  std::string next_log; // and logs last
};

TEST_F(FacadeFaultTest, ALateReplyIsNeverTakenForTheNextCommandsAnswer) {
  const std::string stalled(3, 'd');
  const Steps stalled_download{
      Expect("PORT *", "200 ok\r\n"),
      Expect("RETR a", "150 ok\r\n", Data::Send(stalled).ThenHold().InBackground()),
      Expect("ABOR")};
  const LateReply cases[] = {
      {"NOOP answered after the time-out", false, {Expect("NOOP")}, {Reply("200 late\r\n")},
       550, "550 nope"},
      {"ABOR answered late, after the transfer's own closing reply", true, stalled_download,
       {Reply("426 Aborted\r\n"), testing::CloseData(), Reply("226 ABOR ok\r\n")}, 550,
       "550 nope"},
      {"ABOR never answered: the connection is given up, not the next answer", true,
       stalled_download, {Reply("426 Aborted\r\n"), testing::CloseData()}, 999,
       "Connection closed: the server did not answer an earlier command"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    ftp().SetWaitTimeout(kLineTimeoutMs);
    // The server speaks again only once the client has given up (the test opens `late`), and
    // the test goes on once that is on its way (`sent`): no pause races the time-out.
    testing::Gate late("late"), sent("sent");
    Steps steps = c.before_late;
    steps.push_back(testing::WaitFor(late));
    steps.insert(steps.end(), c.late.begin(), c.late.end());
    steps.push_back(testing::Open(sent));
    if (c.next != 999) steps.push_back(Expect("DELE x", "550 nope\r\n"));
    steps.push_back(Silence());
    FakeFtpServer server({Session(LoggedIn(steps))}, {.io_timeout = 15s});
    Login(server);
    const Timed first =
        Time([&] { return c.transfer ? ftp().Download("a", dir_ / "a") : ftp().DoCommand("NOOP"); });
    EXPECT_EQ(first.result, 999) << Joined(log_);
    EXPECT_LE(first.ms, kOneLineMs);
    late.Open();
    ASSERT_TRUE(sent.Wait(5s)) << server.Transcript();
    log_.clear();
    const Timed next = Time([&] { return ftp().Delete("x"); });
    EXPECT_EQ(next.result, c.next) << Joined(log_);
    ASSERT_FALSE(log_.empty());
    EXPECT_EQ(log_.back(), c.next_log) << Joined(log_);
    EXPECT_FALSE(Contains(log_, "200 Delete success") || Contains(log_, "226 Delete success"));
    EXPECT_LE(next.ms, kOneLineMs);
    EXPECT_EQ(server.Mismatches(), "") << server.Transcript();
  }
}

TEST_F(FacadeFaultTest, ADownloadWithoutALocalNameStaysInTheLocalFolder) {
  FakeFtpServer server({Session(LoggedIn({Expect("PORT *", "200 ok\r\n"),
                                          Expect("RETR dir/sub/name", "150 ok\r\n",
                                                 Data::Send("payload")),
                                          Reply("226 done\r\n"), Silence()}))});
  Login(server);
  const auto before = std::filesystem::current_path();
  std::filesystem::current_path(dir_.path());
  EXPECT_EQ(ftp().Download("dir/sub/name", ""), 150) << Joined(log_);
  for (const char* remote : {"..", "/", "dir/"}) {
    log_.clear();
    EXPECT_EQ(ftp().Download(remote, ""), 999);
    EXPECT_EQ(log_, (Lines{std::string("No local file name in \"") + remote + "\""}));
  }
  // The server's name never writes through a link there, and a name that begins like a reply
  // is no reply: the refusal is a failure.
  testing::TempDir outside;
  WriteBytes(outside / "kept", "the user's file");
  std::filesystem::create_symlink(outside / "kept", dir_ / "226 x");
  log_.clear();
  EXPECT_EQ(ftp().Download("dir/226 x", ""), 999);
  EXPECT_EQ(log_, (Lines{"226 x: a link is in the way"}));
  std::filesystem::current_path(before);
  EXPECT_EQ(ReadBytes(dir_ / "name"), "payload");
  EXPECT_EQ(ReadBytes(outside / "kept"), "the user's file");
  EXPECT_EQ(FolderEntries(), 2u);
  // Nothing of the refused downloads reached the server.
  EXPECT_EQ(server.Commands().size(), 4u) << server.Transcript();
}

TEST_F(FacadeFaultTest, OnlyABinaryDownloadIsHeldToTheAnnouncedCount) {
  // In ASCII mode line ends change on the way, so fewer bytes than announced is no fault. In
  // binary mode only the count at the end of the reply is held to, never digits of the name;
  // a server that knows no SIZE is not asked again.
  FakeFtpServer server({Session(LoggedIn(
      {Expect("PORT *", "200 ok\r\n"),
       Expect("RETR t.txt", "150 Opening (10 bytes)\r\n", Data::Send("a\nb\nc\n")),
       Reply("226 done\r\n"), Expect("TYPE I", "200 ok\r\n"),
       Expect("SIZE b.bin", "500 SIZE not understood\r\n"), Expect("PORT *", "200 ok\r\n"),
       Expect("RETR b.bin", "150 Opening (6 bytes)\r\n", Data::Send("123456")),
       Reply("226 done\r\n"), Expect("PORT *", "200 ok\r\n"),
       Expect("RETR dump-99999bytes.txt",
              "150 Opening BINARY mode data connection for dump-99999bytes.txt (12 bytes).\r\n",
              Data::Send("twelve bytes")),
       Reply("226 done\r\n"), Silence()}))});
  Login(server);
  EXPECT_EQ(ftp().Download("t.txt", dir_ / "t.txt"), 150) << Joined(log_);
  EXPECT_EQ(ftp().ModeImage(), 200);
  EXPECT_EQ(ftp().Download("b.bin", dir_ / "b.bin"), 150) << Joined(log_);
  EXPECT_EQ(ReadBytes(dir_ / "b.bin"), "123456");
  EXPECT_EQ(ftp().Download("dump-99999bytes.txt", dir_ / "d.txt"), 150) << Joined(log_);
  EXPECT_EQ(ReadBytes(dir_ / "d.txt"), "twelve bytes");
  EXPECT_EQ(server.Mismatches(), "") << server.Transcript();
}

TEST_F(FacadeFaultTest, TheListingsChangeOfDirectoryIsSupervised) {
  FakeFtpServer server({Session(LoggedIn({Expect("CWD sub"), Silence()}))}, {.io_timeout = 5s});
  Login(server);
  std::string listing = "untouched";
  const Timed t = Time([&] { return ftp().List("sub", listing); });
  EXPECT_EQ(t.result, 999);
  EXPECT_EQ(log_.back(), "Socket readln aborted") << Joined(log_);
  EXPECT_GE(t.ms, kWaitTimeoutMs);
  EXPECT_LE(t.ms, kNoHangMs);
  EXPECT_EQ(listing, "");
}

TEST_F(FacadeFaultTest, AnActiveDataConnectionIsTakenFromTheServerOnly) {
  const std::string target = dir_ / "a.bin";
  for (bool real_follows : {true, false}) {
    SCOPED_TRACE(real_follows ? "a stranger, then the server" : "only a stranger");
    Fresh();
    WriteBytes(target, "old");
    Steps steps{Expect("PORT *", "200 ok\r\n"),
                Expect("RETR a.bin", "150 ok\r\n",
                       Data::Send("the server's data").IntruderFirst("127.0.0.2", real_follows))};
    if (real_follows) steps.push_back(Reply("226 done\r\n"));
    steps.push_back(Silence());
    FakeFtpServer server({Session(LoggedIn(steps))}, {.io_timeout = 5s});
    Login(server);
    const Timed t = Time([&] { return ftp().Download("a.bin", target); });
    EXPECT_EQ(server.Mismatches(), "") << server.Transcript();
    if (real_follows) {
      EXPECT_EQ(t.result, 150) << Joined(log_);
      EXPECT_EQ(ReadBytes(target), "the server's data");
    } else {
      EXPECT_EQ(t.result, 999) << Joined(log_);
      EXPECT_EQ(log_.back(), "Accepting Canceled") << Joined(log_);
      EXPECT_EQ(ReadBytes(target), "old");
      EXPECT_LE(t.ms, kNoHangMs);
    }
  }
}

}  // namespace
}  // namespace tarnex::faults
