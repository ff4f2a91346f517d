// Listings and transfers against a scripted server (exact command order) and a real one
// (byte-exact round trips over PORT and PASV).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/loop_timer.h"
#include "tests/ftpproto/proto_test_fixture.h"
#include "tests/support/real_ftp_server.h"
#include "tests/support/temp_dir.h"

namespace tarnex {
namespace {

using namespace std::chrono_literals;
using testing::Expect;
using testing::FakeFtpServer;
using testing::Reply;
using testing::Session;
using testing::Silence;
namespace Data = testing::Data;

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

class TransferTest : public ProtoTest {
 protected:
  void Connect(FakeFtpServer& server, bool passive) {
    Attach(server);
    ftp_.Passive = passive;
    ftp_.LogIn();
    events_.clear();
  }
  void Finish(FakeFtpServer& server) {
    EXPECT_TRUE(server.Wait(5s)) << server.Transcript();
    EXPECT_EQ(server.Mismatches(), "");
  }
  std::string Local(const std::string& leaf) { return dir_ / leaf; }

  testing::TempDir dir_;
};

TEST_F(TransferTest, DownloadOverPortAndPasv) {
  for (bool passive : {false, true}) {
    FakeFtpServer server({Connected({
        passive ? Expect("EPSV", "229 Entering Extended Passive Mode ({epsv})\r\n")
                : Expect("PORT 127,0,0,1,*", "200 PORT ok\r\n"),
        Expect("RETR a.txt", "150 Opening data connection (2048 bytes)\r\n",
               Data::Send("hello")),
        Reply("226 Transfer complete\r\n"), Silence()})});
    Connect(server, passive);
    int64_t total_at_start = -1;
    ftp_.OnTransactionStart = [&](TProtoFTP&) {
      events_.push_back("start");
      total_at_start = ftp_.BytesTotal;
    };
    ftp_.DownloadFile("a.txt", Local("b.txt"));
    EXPECT_EQ(FileBytes(Local("b.txt")), "hello");
    EXPECT_EQ(total_at_start, 2048);  // announced by the reply
    EXPECT_EQ(ftp_.BytesTotal, 5);    // really received
    EXPECT_EQ(ftp_.ReplyCode(), 150);  // the first reply's code, not the closing one's
    EXPECT_EQ(events_, (std::vector<std::string>{"start", "stop", "stop", "success Transfer"}));
    EXPECT_EQ(ftp_.DataConnection(), nullptr);
    Finish(server);
    ftp_.Control().RequestCloseSocket();
  }
}

TEST_F(TransferTest, DownloadWithoutALocalNameUsesTheRemoteName) {
  FakeFtpServer server({Connected({Expect("PORT *", "200 ok\r\n"),
                                   Expect("RETR c.txt", "150 go\r\n", Data::Send("xyz")),
                                   Reply("226 done\r\n"), Silence()})});
  Connect(server, false);
  auto before = std::filesystem::current_path();
  std::filesystem::current_path(dir_.path());
  ftp_.DownloadFile("c.txt", "");
  std::filesystem::current_path(before);
  EXPECT_EQ(FileBytes(Local("c.txt")), "xyz");
}

// In active mode PORT goes out in the same write as its command (the trace shows both sent
// before either reply); a 1xx read first is the command's, as from a server that answers the
// command before it has connected. A refusal read first fails the transfer, whichever of the
// two it answers, and the other reply is read before the next command. After a PORT refused
// behind the command's 1xx, PORT goes alone: such a server may never end that command.
TEST_F(TransferTest, PortGoesOutWithItsCommand) {
  FakeFtpServer server({Connected({
      Expect("PORT *"), Expect("RETR a", "150 ok\r\n", Data::Send("hi").InBackground()),
      Reply("200 PORT ok\r\n"), testing::AwaitData(), Reply("226 done\r\n"),
      Expect("PORT *"), Expect("RETR b", "550 No such file\r\n"), Reply("200 PORT ok\r\n"),
      Expect("PORT *"), Expect("RETR c", "150 ok\r\n"), Reply("425 Cannot connect\r\n"),
      Reply("426 No data connection\r\n"), Expect("NOOP", "200 ok\r\n"),
      Expect("PORT *", "200 ok\r\n"), Expect("RETR d", "150 ok\r\n", Data::Send("x")),
      Reply("226 done\r\n"), Silence()})});
  Connect(server, false);
  std::vector<std::string> trace;
  ftp_.OnDialogue = [&](bool sent, const std::string& line) {
    trace.push_back(sent ? "> " + line.substr(0, line.find(' ')) : "< " + line);
  };
  ftp_.DownloadFile("a", Local("a"));
  EXPECT_EQ(FileBytes(Local("a")), "hi");
  EXPECT_EQ(ftp_.ReplyCode(), 150);
  EXPECT_EQ(Raised([&] { ftp_.DownloadFile("b", Local("b")); }), "550 No such file\r\n");
  EXPECT_EQ(Raised([&] { ftp_.DownloadFile("c", Local("c")); }), "425 Cannot connect\r\n");
  EXPECT_EQ(ftp_.RunCommand("NOOP").code, 200);
  ftp_.DownloadFile("d", Local("d"));
  EXPECT_EQ(FileBytes(Local("d")), "x");
  EXPECT_EQ(trace, (std::vector<std::string>{
                       "> PORT", "> RETR", "< 150 ok", "< 200 PORT ok", "< 226 done",
                       "> PORT", "> RETR", "< 550 No such file",
                       "< 200 PORT ok", "> PORT", "> RETR", "< 150 ok", "< 425 Cannot connect",
                       "< 426 No data connection", "> NOOP", "< 200 ok",
                       "> PORT", "< 200 ok", "> RETR", "< 150 ok", "< 226 done"}));
  Finish(server);
}

TEST_F(TransferTest, ListingLinesLoseTheirLineEnd) {
  FakeFtpServer server({Connected({
      Expect("PORT *", "200 ok\r\n"),
      Expect("LIST", "150 Here it comes\r\n",
             Data::Send("-rw-r--r-- 1 u g 12 Jan 5 12:00 a.txt\r\n\r\nlf only\nlast")),
      Reply("226 done\r\n"),
      Expect("PORT *", "200 ok\r\n"),
      Expect("LIST", "150 Again\r\n", Data::Send("x\r\n")), Reply("426 Aborted\r\n"),
      Silence()})});
  Connect(server, false);
  std::vector<std::string> lines;
  ftp_.OnListItem = [&](const std::string& line) { lines.push_back(line); };
  ftp_.ListDirectory();
  EXPECT_EQ(lines, (std::vector<std::string>{"-rw-r--r-- 1 u g 12 Jan 5 12:00 a.txt", "\r\n",
                                             "lf only", "last"}));
  EXPECT_EQ(events_.back(), "success List");
  // Closed with 426 the second is no whole listing, though its lines were handed over as
  // they came.
  events_.clear();
  lines.clear();
  EXPECT_EQ(Raised([&] { ftp_.ListDirectory(); }), "426 Aborted\r\n");
  EXPECT_EQ(events_, (std::vector<std::string>{"start", "stop"}));
  EXPECT_EQ(lines, std::vector<std::string>{"x"});
  Finish(server);
}

TEST_F(TransferTest, UploadAndAppendSendTheFileByteForByte) {
  std::string bytes(200'000, '\0');
  std::mt19937 random(7);
  for (char& c : bytes) c = static_cast<char>(random());
  WriteFile(Local("up.bin"), bytes);
  std::string local = Local("up.bin");
  FakeFtpServer server({Connected({
      Expect("EPSV", "229 ({epsv})\r\n"), Expect("STOR remote.bin", "150 ok\r\n", Data::Receive()),
      Reply("226 ok\r\n"),
      Expect("EPSV", "229 ({epsv})\r\n"), Expect("STOR up.bin", "150 ok\r\n", Data::Receive()),
      Reply("226 ok\r\n"),
      Expect("EPSV", "229 ({epsv})\r\n"), Expect("APPE up.bin", "150 ok\r\n", Data::Receive()),
      Reply("226 ok\r\n"), Silence()})});
  Connect(server, true);
  std::vector<std::string> statuses;
  ftp_.Control().ReportLevel = 1;
  ftp_.Control().OnStatus = [&](TAsyncSock&, const std::string& text) { statuses.push_back(text); };
  int packets = 0;
  ftp_.OnPacketSent = [&](TProtoFTP& sender) {
    ++packets;
    EXPECT_GT(sender.DataBytesSent(), 0);  // told once a piece has gone out
  };
  ftp_.UploadFile(local, "remote.bin");
  EXPECT_EQ(ftp_.BytesTotal, 200'000);
  ftp_.UploadFile(local, "");  // stored under the local file's name
  ftp_.AppendFile(local, "");
  EXPECT_GE(packets, 9);
  EXPECT_EQ(events_, (std::vector<std::string>{"start", "stop", "success Transfer", "start",
                                               "stop", "success Transfer", "start", "stop",
                                               "success Append"}));
  // The status names the full local path while the command names the file alone.
  EXPECT_NE(std::find(statuses.begin(), statuses.end(), "STOR " + local), statuses.end());
  Finish(server);
  for (int n = 0; n < 3; ++n) EXPECT_TRUE(server.ReceivedData(n) == bytes) << n;
}

TEST_F(TransferTest, RefusedDataCommandsAndTheirEvents) {
  struct Case {
    const char* name;
    std::vector<testing::Step> steps;
    bool upload;
    std::string raised;
    std::vector<std::string> events;
  } cases[] = {
      {"PASV 502 fails without unsupported",
       {Expect("PASV", "502 No passive\r\n")}, false, "502 No passive\r\n",
       {"failure Transfer", "failure Transfer"}},
      {"STOR 553 is offered twice",
       {Expect("PASV", "227 ({pasv})\r\n"), Expect("STOR r", "553 Not allowed\r\n")}, true,
       "553 Not allowed\r\n", {"failure Transfer", "failure Transfer"}},
      {"STOR 502 is unsupported first",
       {Expect("PASV", "227 ({pasv})\r\n"), Expect("STOR r", "502 No\r\n")}, true, "502 No\r\n",
       {"unsupported Transfer", "failure Transfer", "failure Transfer"}},
      {"RETR 550 is not unsupported",
       {Expect("PASV", "227 ({pasv})\r\n"), Expect("RETR r", "502 No\r\n")}, false,
       "502 No\r\n", {"failure Transfer", "failure Transfer"}},
      {"PASV 425 without numbers fails converting",
       {Expect("PASV", "425 Cannot open\r\n")}, false,
       platform::Utf8ToCp932("'' は整数ではありません"), {"failure Transfer"}},
  };
  WriteFile(Local("f"), "data");
  for (auto& c : cases) {
    // A server without EPSV: the PASV that follows is what is tested.
    c.steps.insert(c.steps.begin(), Expect("EPSV", "500 EPSV not understood\r\n"));
    c.steps.push_back(Silence());
    FakeFtpServer server({Connected(c.steps)});
    Connect(server, true);
    HandleFailures(false);
    std::string raised = Raised([&] {
      if (c.upload) {
        ftp_.UploadFile(Local("f"), "r");
      } else {
        ftp_.DownloadFile("r", Local("g"));
      }
    });
    EXPECT_EQ(raised, c.raised) << c.name;
    EXPECT_EQ(events_, c.events) << c.name;
    EXPECT_EQ(ftp_.DataConnection(), nullptr) << c.name;
    ftp_.OnFailure = nullptr;
    ftp_.Control().RequestCloseSocket();
  }
}

TEST_F(TransferTest, APasvReplyIsReadForItsPortWhateverItsCode) {
  FakeFtpServer server({Connected({Expect("EPSV", "502 No\r\n"),
                                   Expect("PASV", "425 Odd but usable ({pasv})\r\n"),
                                   Expect("RETR a", "150 ok\r\n", Data::Send("ok")),
                                   Reply("226 ok\r\n"), Silence()})});
  Connect(server, true);
  ftp_.DownloadFile("a", Local("a"));
  EXPECT_EQ(FileBytes(Local("a")), "ok");
}

TEST_F(TransferTest, AHandledRefusalEndsQuietly) {
  FakeFtpServer server({Connected({Expect("PORT *", "200 ok\r\n"),
                                   Expect("LIST", "550 No files\r\n"), Silence()})});
  Connect(server, false);
  HandleFailures(true);
  EXPECT_EQ(Raised([&] { ftp_.ListDirectory(); }), "");
  EXPECT_EQ(events_, (std::vector<std::string>{"failure List"}));
  EXPECT_FALSE(ftp_.ListInProgress());
}

TEST_F(TransferTest, ACancelledDownloadSendsAborAfterFreeingTheDataConnection) {
  testing::Gate aborted("aborted");
  FakeFtpServer server({Connected({
      Expect("EPSV", "229 ({epsv})\r\n"),
      Expect("RETR big", "150 ok\r\n",
             Data::Send(std::string(1 << 20, 'x')).Chunks(1000, 20ms).InBackground()),
      Expect("ABOR", "426 Aborted\r\n"), testing::CloseData(), Reply("226 ABOR ok\r\n"),
      testing::Open(aborted), Expect("NOOP", "200 ok\r\n"), Silence()})});
  Connect(server, true);
  platform::LoopTimer stop(300, [this] {
    ftp_.Abort();   // the data connection
    ftp_.Cancel();  // and the control connection's wait, as the time-out does
  });
  stop.SetEnabled(true);
  EXPECT_EQ(Raised([&] { ftp_.DownloadFile("big", Local("big")); }), "Socket send aborted");
  stop.SetEnabled(false);
  EXPECT_FALSE(ftp_.Control().Canceled);
  EXPECT_EQ(ftp_.DataConnection(), nullptr);
  // ABOR went out at once; its replies and the transfer's are read before the next command's.
  ASSERT_TRUE(aborted.Wait(5s)) << server.Transcript();
  ftp_.RunCommand("NOOP");
  EXPECT_EQ(ftp_.ReplyCode(), 200);
  EXPECT_EQ(server.Mismatches(), "") << server.Transcript();
}

TEST_F(TransferTest, AnUnreadableLocalFileFailsBeforeAnythingIsSent) {
  FakeFtpServer server({Connected({Silence()})});
  Connect(server, false);
  std::string missing = Local("missing.txt");
  EXPECT_EQ(Raised([&] { ftp_.UploadFile(missing, "x"); }),
            platform::FileOpenErrorText(missing));
  EXPECT_EQ(Raised([&] { ftp_.AppendFile(missing, "x"); }),
            platform::FileOpenErrorText(missing));
  EXPECT_EQ(ftp_.DataConnection(), nullptr);
  EXPECT_EQ(server.Commands(), (std::vector<std::string>{"USER joe"}));
}

TEST(TransferRealServer, ByteExactRoundTripsOverPortAndPasv) {
  TARNEX_SKIP_UNLESS_REAL_FTP_SERVER();
  testing::RealFtpServer server;
  testing::TempDir local;
  std::mt19937 random(42);
  for (bool passive : {false, true}) {
    TProtoFTP ftp;
    LogIn(ftp, server, passive);
    ftp.SetTransferType(tmImage);
    for (size_t size : {size_t{0}, size_t{1}, size_t{65535}, size_t{65536}, size_t{65537},
                        size_t{10 * 1024 * 1024 + 3}}) {
      std::string bytes(size, '\0');
      for (char& c : bytes) c = static_cast<char>(random());
      std::string name = "f" + std::to_string(size) + (passive ? "p" : "a");
      WriteFile(local / name, bytes);
      ftp.UploadFile(local / name, name);
      ASSERT_EQ(FileBytes((server.Root() / name).string()), bytes) << name;
      ftp.DownloadFile(name, local / (name + ".back"));
      ASSERT_EQ(FileBytes(local / (name + ".back")), bytes) << name;
      ftp.AppendFile(local / name, name);
      ASSERT_EQ(FileBytes((server.Root() / name).string()), bytes + bytes) << name;
    }
    std::vector<std::string> lines;
    ftp.OnListItem = [&](const std::string& line) { lines.push_back(line); };
    ftp.ListDirectory();
    EXPECT_EQ(lines.size(), passive ? 12u : 6u);  // the first round's files are there too
    ftp.Quit();
  }
}

TEST(TransferRealServer, AsciiModeFollowsTheServersLineEnds) {
  TARNEX_SKIP_UNLESS_REAL_FTP_SERVER();
  testing::RealFtpServer server;
  testing::TempDir local;
  WriteFile(local / "t.txt", "a\r\nb\r\n");
  TProtoFTP ftp;
  LogIn(ftp, server);
  ftp.SetTransferType(tmAscii);
  ftp.UploadFile(local / "t.txt", "t.txt");
  // The server stores text with its own line ends and sends it back with CR LF.
  EXPECT_EQ(FileBytes((server.Root() / "t.txt").string()), "a\nb\n");
  ftp.DownloadFile("t.txt", local / "back.txt");
  EXPECT_EQ(FileBytes(local / "back.txt"), "a\r\nb\r\n");
  ftp.Quit();
}

}  // namespace
}  // namespace tarnex
