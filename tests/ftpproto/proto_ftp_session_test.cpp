// The control connection against a scripted server: exact command sequences, events in order.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <tuple>

#include "tests/ftpproto/proto_test_fixture.h"
#include "platform/errors.h"
#include "platform/loop_timer.h"
#include "tests/support/fake_ftp_server.h"
#include "tests/support/real_ftp_server.h"

namespace tarnex {
namespace {

using namespace std::chrono_literals;
using testing::Close;
using testing::Expect;
using testing::FakeFtpServer;
using testing::Greeting;
using testing::Session;
using testing::Silence;

const char* kLogin = "331 Password required\r\n";

TEST_F(ProtoTest, MultiLineGreetingIsReadWholeBeforeTheLogin) {
  FakeFtpServer server({Session{
      Greeting("220-Hello\r\n more\r\n220 Ready\r\n"), Expect("USER joe", kLogin),
      Expect("PASS secret", "230-Welcome\r\n second line\r\n230 Done\r\n"),
      Expect("QUIT", "221 Bye\r\n"), Close()}});
  Attach(server);
  ftp_.LogIn();
  EXPECT_EQ(ftp_.ReplyCode(), 230);
  EXPECT_EQ(ftp_.LastReply(), "230-Welcome\r\n");
  EXPECT_TRUE(ftp_.Connected());
  ftp_.Quit();
  EXPECT_FALSE(ftp_.Connected());
  EXPECT_EQ(events_, (std::vector<std::string>{"connect", "disconnect"}));
  EXPECT_TRUE(server.Wait(5s)) << server.Transcript();
  EXPECT_EQ(server.Mismatches(), "");
}

TEST_F(ProtoTest, RefusalsDuringLoginDisconnectAndRaise) {
  struct Case {
    const char* name;
    Session session;
    std::string message;
    std::vector<std::string> events;
  } cases[] = {
      {"greeting 421", Session{Greeting("421 Too many users\r\n"), Expect("QUIT", "221 Bye\r\n"),
                               Close()},
       "421 Too many users\r\n", {"connection failed", "disconnect"}},
      {"USER 530", Session{Greeting("220 Hi\r\n"), Expect("USER joe", "530 Not allowed\r\n"),
                           Expect("QUIT", "221 Bye\r\n"), Close()},
       "530 Not allowed\r\n", {"connection failed", "disconnect"}},
      {"PASS 530", Session{Greeting("220 Hi\r\n"), Expect("USER joe", kLogin),
                           Expect("PASS secret", "530 Login incorrect.\r\n"),
                           Expect("QUIT", "221 Bye\r\n"), Close()},
       "530 Login incorrect.\r\n", {"connection failed", "disconnect"}},
      {"closed before greeting", Session{Close()}, "Connection closed by server", {}},
  };
  for (auto& c : cases) {
    FakeFtpServer server({c.session});
    events_.clear();
    Attach(server);
    EXPECT_EQ(Raised([&] { ftp_.LogIn(); }), c.message) << c.name;
    EXPECT_FALSE(ftp_.Connected()) << c.name;
    // "disconnect" follows once the close has been seen.
    if (!c.events.empty()) {
      EXPECT_EQ(events_, c.events) << c.name;
    }
    EXPECT_TRUE(server.Wait(5s)) << c.name << server.Transcript();
  }
}

TEST_F(ProtoTest, LoginVariants) {
  struct Case {
    const char* name;
    std::string proxy;
    TFirewallType type;
    bool firewall_login;
    Session session;
  } cases[] = {
      {"USER answered 230 sends no PASS", "", TFirewallType::FTUser, false,
       Session{Greeting("220 Hi\r\n"), Expect("USER joe", "230 In\r\n"), Expect("QUIT", "221\r\n"),
               Close()}},
      {"332 to PASS counts as success", "", TFirewallType::FTUser, false,
       Session{Greeting("220 Hi\r\n"), Expect("USER joe", kLogin),
               Expect("PASS secret", "332 Need account\r\n"), Expect("QUIT", "221\r\n"), Close()}},
      {"proxy USER joe@host", "127.0.0.1", TFirewallType::FTUser, false,
       Session{Greeting("220 Proxy\r\n"), Expect("USER joe@real.example", kLogin),
               Expect("PASS secret", "230 In\r\n"), Expect("QUIT", "221\r\n"), Close()}},
      {"proxy OPEN", "127.0.0.1", TFirewallType::FtOpen, false,
       Session{Greeting("220 Proxy\r\n"), Expect("OPEN real.example", "500 whatever\r\n"),
               Expect("USER joe", kLogin), Expect("PASS secret", "230 In\r\n"),
               Expect("QUIT", "221\r\n"), Close()}},
      {"proxy SITE", "127.0.0.1", TFirewallType::FtSite, false,
       Session{Greeting("220 Proxy\r\n"), Expect("SITE real.example", "200 ok\r\n"),
               Expect("USER joe", kLogin), Expect("PASS secret", "230 In\r\n"),
               Expect("QUIT", "221\r\n"), Close()}},
      {"firewall login", "", TFirewallType::FTUser, true,
       Session{Greeting("220 FW\r\n"), Expect("USER fw", kLogin), Expect("PASS fwpass", "230 ok\r\n"),
               Expect("USER joe", kLogin), Expect("PASS secret", "230 In\r\n"),
               Expect("QUIT", "221\r\n"), Close()}},
      {"firewall USER 230 sends no firewall PASS", "", TFirewallType::FTUser, true,
       Session{Greeting("220 FW\r\n"), Expect("USER fw", "230 ok\r\n"), Expect("USER joe", kLogin),
               Expect("PASS secret", "230 In\r\n"), Expect("QUIT", "221\r\n"), Close()}},
  };
  for (auto& c : cases) {
    FakeFtpServer server({c.session});
    TProtoFTP ftp;
    ftp.Host = c.proxy.empty() ? "127.0.0.1" : "real.example";
    ftp.Port = c.proxy.empty() ? server.Port() : 21;
    ftp.Proxy = c.proxy;
    ftp.ProxyPort = server.Port();
    ftp.FirewallType = c.type;
    ftp.FWAuthenticate = c.firewall_login;
    ftp.FWUserID = "fw";
    ftp.FWPassword = "fwpass";
    ftp.UserID = "joe";
    ftp.Password = "secret";
    bool connected = false;
    ftp.OnConnect = [&](TProtoFTP&) { connected = true; };
    ftp.LogIn();
    EXPECT_TRUE(connected) << c.name;
    ftp.Quit();
    EXPECT_TRUE(server.Wait(5s)) << c.name << server.Transcript();
    EXPECT_EQ(server.Mismatches(), "") << c.name;
  }
}

TEST_F(ProtoTest, RunCommandClassifiesAndJudgesReplies) {
  struct Case {
    const char* command;
    const char* reply;
    std::vector<std::string> events;
    bool raises;
  } cases[] = {
      {"CWD pub", "250 ok\r\n", {"success ChangeDir"}, false},
      {"cwd pub", "250 ok\r\n", {"success Other"}, false},
      {"DELE a", "250 ok\r\n", {"success Delete"}, false},
      {"MKD d", "257 made\r\n", {"success MakeDir"}, false},
      {"RMD d", "250 ok\r\n", {"success RemoveDir"}, false},
      {"PWD", "257 \"/\"\r\n", {"success PrintDir"}, false},
      {"PWD x", "257 \"/\"\r\n", {"success Other"}, false},
      // A line that is no reply (no code of 100 to 599) is a failure, never a success.
      {"SITE x", "600 odd\r\n", {}, true},
      {"SITE y", "hello\r\n", {}, true},
      {"SITE w", "-550 x\r\n", {}, true},
      {"SITE z", "399 fine\r\n", {"success Other"}, false},
      {"NOOP", "502 Not implemented\r\n", {"unsupported Other", "failure Other"}, true},
      {"CWD x", "500 What\r\n", {"unsupported ChangeDir", "failure ChangeDir"}, true},
      {"CWD y", "503 Bad sequence\r\n", {"failure ChangeDir"}, true},
      {"DELE b", "450 Busy\r\n", {"failure Delete"}, true},
      {"DELE c", "400 Edge\r\n", {"failure Delete"}, true},
      {"MKD e", "550-Access denied\r\n more\r\n550 end\r\n", {"failure MakeDir"}, true},
  };
  std::vector<testing::Step> steps;
  for (const auto& c : cases) steps.push_back(Expect(c.command, c.reply));
  steps.push_back(Silence());
  FakeFtpServer server({Connected(steps)});
  Attach(server);
  HandleFailures(false);
  ftp_.LogIn();
  for (const auto& c : cases) {
    events_.clear();
    std::string raised = Raised([&] { ftp_.RunCommand(c.command); });
    EXPECT_EQ(events_, c.events) << c.command;
    // The exception carries the reply's first line with its line end.
    std::string first_line(c.reply, std::string(c.reply).find('\n') + 1);
    EXPECT_EQ(raised, c.raises ? first_line : "") << c.command;
  }
}

TEST_F(ProtoTest, AHandledFailureEndsQuietly) {
  FakeFtpServer server({Connected({Expect("CWD x", "550 No\r\n"), Silence()})});
  Attach(server);
  HandleFailures(true);
  ftp_.LogIn();
  events_.clear();
  EXPECT_EQ(Raised([&] { ftp_.ChangeDirectory("x"); }), "");
  EXPECT_EQ(events_, (std::vector<std::string>{"failure ChangeDir"}));
  EXPECT_EQ(ftp_.ReplyCode(), 550);
}

TEST_F(ProtoTest, RenameRules) {
  FakeFtpServer server({Connected({
      Expect("RNFR a", "350 Ready\r\n"), Expect("RNTO b", "250 Done\r\n"),
      Expect("RNFR c", "550 No such file\r\n"),  // no RNTO follows
      Expect("RNFR d", "350 Ready\r\n"), Expect("RNTO e", "502 No\r\n"),
      Expect("RNFR f", "351 odd but fine\r\n"), Expect("RNTO g", "301 odd\r\n"),
      Silence()})});
  Attach(server);
  ftp_.LogIn();
  events_.clear();
  ftp_.RenameFile("a", "b");
  EXPECT_EQ(events_, (std::vector<std::string>{"success Rename"}));
  events_.clear();
  EXPECT_EQ(Raised([&] { ftp_.RenameFile("c", "x"); }), "550 No such file\r\n");
  EXPECT_TRUE(events_.empty());
  EXPECT_EQ(Raised([&] { ftp_.RenameFile("d", "e"); }), "502 No\r\n");
  EXPECT_EQ(events_, (std::vector<std::string>{"unsupported Rename"}));
  events_.clear();
  EXPECT_EQ(Raised([&] { ftp_.RenameFile("f", "g"); }), "301 odd\r\n");
  EXPECT_EQ(server.Commands().back(), "RNTO g");
}

// A mirror's rename goes out as RNFR and RNTO together; the RNTO that a refused RNFR leaves
// behind is answered before the next command, never taken for its answer.
TEST_F(ProtoTest, TheRenameOfAnUploadSendsBothCommandsAtOnce) {
  FakeFtpServer server({Connected({
      Expect("RNFR a", "350 Ready\r\n"), Expect("RNTO b", "250 Done\r\n"),
      Expect("RNFR c", "550 No such file\r\n"), Expect("RNTO d", "503 Bad sequence\r\n"),
      Expect("NOOP", "200 ok\r\n"),
      Expect("RNFR e", "350 Ready\r\n"), Expect("RNTO f", "553 Not allowed\r\n"),
      Silence()})});
  Attach(server);
  ftp_.LogIn();
  EXPECT_TRUE(ftp_.TryRenameFile("a", "b").value);
  EXPECT_EQ(Raised([&] { ftp_.TryRenameFile("c", "d"); }), "550 No such file\r\n");
  EXPECT_EQ(ftp_.RunCommand("NOOP").code, 200);
  const Answered<bool> refused = ftp_.TryRenameFile("e", "f");
  EXPECT_FALSE(refused.value);
  EXPECT_EQ(refused.reply.line, "553 Not allowed\r\n");
  EXPECT_EQ(ftp_.ReplyCode(), 553);
}

// An upload's time goes out with its rename: MFMT, RNFR and RNTO in one write (the trace
// shows all three sent before a reply). A refused MFMT leaves the rename to go on.
TEST_F(ProtoTest, TheTimeOfAnUploadGoesOutWithItsRename) {
  FakeFtpServer server({Connected({
      Expect("MFMT 20260102030405 a", "213 Modify=20260102030405; a\r\n"),
      Expect("RNFR a", "350 Ready\r\n"), Expect("RNTO b", "250 Done\r\n"),
      Expect("MFMT 20260102030405 c", "500 Unknown\r\n"),
      Expect("RNFR c", "350 Ready\r\n"), Expect("RNTO d", "250 Done\r\n"), Silence()})});
  Attach(server);
  ftp_.LogIn();
  std::vector<std::string> trace;
  ftp_.OnDialogue = [&](bool sent, const std::string& line) {
    trace.push_back((sent ? "> " : "< ") + line.substr(0, 4));
  };
  const int64_t time = 1767323045;  // 2026-01-02 03:04:05 UTC
  for (const auto& [from, to, time_set] : {std::tuple{"a", "b", true}, {"c", "d", false}}) {
    Answered<bool> set{!time_set, {}};
    EXPECT_TRUE(ftp_.TryRenameFileWithTime(from, to, time, set).value) << from;
    EXPECT_EQ(set.value, time_set) << from;
  }
  EXPECT_EQ(trace, (std::vector<std::string>{"> MFMT", "> RNFR", "> RNTO", "< 213 ", "< 350 ",
                                             "< 250 ", "> MFMT", "> RNFR", "> RNTO", "< 500 ",
                                             "< 350 ", "< 250 "}));
  EXPECT_EQ(server.Mismatches(), "");
}

// A mirror's questions about many files' times go out in one write, answered in order.
TEST_F(ProtoTest, TheTimesOfManyFilesAreAskedInOneWrite) {
  FakeFtpServer server({Connected({Expect("MDTM a", "213 20260102030405\r\n"),
                                   Expect("MDTM b", "550 No such file\r\n"),
                                   Expect("MDTM c", "213 20260102030406\r\n"), Silence()})});
  Attach(server);
  ftp_.LogIn();
  std::vector<std::string> trace;
  ftp_.OnDialogue = [&](bool sent, const std::string& line) {
    trace.push_back((sent ? "> " : "< ") + line.substr(0, 4));
  };
  std::vector<std::optional<int64_t>> times;
  for (const auto& time : ftp_.RemoteModificationTimes({"a", "b", "c"})) {
    times.push_back(time.value);
  }
  EXPECT_EQ(times, (std::vector<std::optional<int64_t>>{1767323045, std::nullopt, 1767323046}));
  EXPECT_EQ(trace, (std::vector<std::string>{"> MDTM", "> MDTM", "> MDTM", "< 213 ", "< 550 ",
                                             "< 213 "}));
  EXPECT_TRUE(ftp_.RemoteModificationTimes({}).empty());  // nothing sent
  EXPECT_EQ(server.Mismatches(), "");
}

TEST_F(ProtoTest, TransferTypesAndQuit) {
  FakeFtpServer server({Connected({Expect("TYPE A", "200 A\r\n"), Expect("TYPE I", "200 I\r\n"),
                                   Expect("TYPE L 8", "200 L\r\n"),
                                   Expect("QUIT", "500 Not now\r\n"), Close()})});
  Attach(server);
  ftp_.LogIn();
  ftp_.SetTransferType(tmAscii);
  ftp_.SetTransferType(tmImage);
  ftp_.SetTransferType(tmLocal8);
  ftp_.SetTransferType(4);  // nothing
  // A refused QUIT still closes, then raises.
  EXPECT_EQ(Raised([&] { ftp_.Quit(); }), "500 Not now\r\n");
  EXPECT_FALSE(ftp_.Connected());
  ftp_.Quit();  // not connected: nothing is sent
  EXPECT_TRUE(server.Wait(5s)) << server.Transcript();
  EXPECT_EQ(server.Mismatches(), "");
}

TEST_F(ProtoTest, CommandsNeedAConnection) {
  EXPECT_EQ(Raised([&] { ftp_.RunCommand("NOOP"); }), "Not Connected");
  EXPECT_EQ(Raised([&] { ftp_.RenameFile("a", "b"); }), "Not Connected");
  int asked = 0;
  ftp_.Control().OnConnectionRequired = [&](TAsyncSock&, bool& handled) {
    ++asked;
    handled = false;
  };
  EXPECT_EQ(Raised([&] { ftp_.DeleteFile("a"); }), "Not Connected");
  EXPECT_EQ(asked, 1);
}

TEST_F(ProtoTest, CancelEndsAWaitForAReply) {
  FakeFtpServer server({Connected({Expect("NOOP"), Silence()})});
  Attach(server);
  ftp_.LogIn();
  platform::LoopTimer cancel(200, [this] { ftp_.Cancel(); });
  cancel.SetEnabled(true);
  EXPECT_EQ(Raised([&] { ftp_.RunCommand("NOOP"); }), "Socket readln aborted");
  cancel.SetEnabled(false);
  EXPECT_TRUE(ftp_.Connected());  // a cancelled wait leaves the connection open
}

TEST_F(ProtoTest, AServerThatClosesInsteadOfReplyingIsAFailure) {
  FakeFtpServer server({Connected({Expect("NOOP"), Close()})});
  Attach(server);
  ftp_.LogIn();
  EXPECT_EQ(Raised([&] { ftp_.RunCommand("NOOP"); }), "Connection closed by server");
}

TEST_F(ProtoTest, ARefusedPortFailsToConnect) {
  std::unique_ptr<FakeFtpServer> server =
      std::make_unique<FakeFtpServer>(std::vector<Session>{Session{Close()}});
  Attach(*server);
  server.reset();  // nobody listens there any more
  EXPECT_EQ(Raised([&] { ftp_.LogIn(); }), "Connection Failed");
  EXPECT_EQ(events_, (std::vector<std::string>{"connection failed"}));
}

TEST(ProtoRealServer, SimpleCommandsAgainstARealServer) {
  TARNEX_SKIP_UNLESS_REAL_FTP_SERVER();
  testing::RealFtpServer server;
  TProtoFTP ftp;
  LogIn(ftp, server);
  EXPECT_EQ(ftp.ReplyCode(), 230);
  ftp.MakeDirectory("sub");
  EXPECT_TRUE(std::filesystem::is_directory(server.Root() / "sub"));
  ftp.ChangeDirectory("sub");
  EXPECT_EQ(ftp.ReplyCode(), 250);
  ftp.ChangeDirectory("..");
  { std::ofstream(server.Root() / "a.txt") << "x"; }
  ftp.RenameFile("a.txt", "b.txt");
  EXPECT_TRUE(std::filesystem::exists(server.Root() / "b.txt"));
  ftp.DeleteFile("b.txt");
  EXPECT_FALSE(std::filesystem::exists(server.Root() / "b.txt"));
  ftp.RemoveDirectory("sub");
  EXPECT_FALSE(std::filesystem::exists(server.Root() / "sub"));
  ftp.SetTransferType(tmAscii);
  EXPECT_EQ(ftp.ReplyCode(), 200);
  ftp.SetTransferType(tmImage);
  EXPECT_EQ(ftp.ReplyCode(), 200);
  EXPECT_THROW(ftp.ChangeDirectory("missing"), FTPException);
  EXPECT_EQ(ftp.ReplyCode(), 550);
  ftp.Quit();
  EXPECT_EQ(ftp.ReplyCode(), 221);
  EXPECT_FALSE(ftp.Connected());
}

}  // namespace
}  // namespace tarnex
