// The facade against a scripted server: results, log lines and events in order, time-outs.
#include "ftpclient/low_ftp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <thread>

#include "ftpproto/proto_ftp.h"
#include "platform/clock.h"
#include "tests/support/fake_ftp_server.h"
#include "tests/support/temp_dir.h"

namespace tarnex {
namespace {

using namespace std::chrono_literals;
using testing::Close;
using testing::Expect;
using testing::FakeFtpServer;
using testing::Greeting;
using testing::Reply;
using testing::Session;
using testing::Silence;
namespace Data = testing::Data;

// The lines a facade logs and the events it raises, in one list. Ticks and rates vary from
// run to run and are masked: "D*#:" and "(#Byte/sec)".
class FacadeTest : public ::testing::Test {
 protected:
  FacadeTest() {
    ftp_.OnLogging = [this](TLowFTP&, const std::string& line) { log_.push_back(Mask(line)); };
    ftp_.Onctlsockconnect = [this](TLowFTP&) { log_.push_back("[connect]"); };
    ftp_.OnCtlsockClose = [this](TLowFTP&) { log_.push_back("[close]"); };
    ftp_.Onretrievefinished = [this](TLowFTP&, int64_t bytes, int32_t) {
      log_.push_back("[retrieved " + std::to_string(bytes) + "]");
    };
    ftp_.Ontransferfinished = [this](TLowFTP&, int64_t bytes, int32_t) {
      log_.push_back("[transferred " + std::to_string(bytes) + "]");
    };
  }
  static std::string Mask(const std::string& line) {
    static const std::regex tick(R"(^D\*-?\d+:)");
    static const std::regex rate(R"(\(\d+\.\d\dByte/sec\))");
    return std::regex_replace(std::regex_replace(line, tick, "D*#:"), rate, "(#Byte/sec)");
  }
  int32_t Login(FakeFtpServer& server) {
    ftp_.SetServer("127.0.0.1", "", server.Port());
    int32_t result = ftp_.Connect("joe", "secret");
    log_.clear();
    return result;
  }
  static Session LoggedIn(std::vector<testing::Step> steps) {
    std::vector<testing::Step> all{Greeting("220 Hi\r\n"), Expect("USER joe", "331 Pass\r\n"),
                                   Expect("PASS secret", "230 Logged in\r\n")};
    all.insert(all.end(), steps.begin(), steps.end());
    return Session(all);
  }
  using Lines = std::vector<std::string>;

  Lines log_;  // outlives the facade, which may still log while it is destroyed
  TLowFTP ftp_;
  testing::TempDir dir_;
};

TEST_F(FacadeTest, ConnectLogsSuccessThenRaisesTheEvent) {
  FakeFtpServer server({LoggedIn({Expect("QUIT", "221 Goodbye\r\n"), Close()})});
  ftp_.SetServer("127.0.0.1", "", server.Port());
  EXPECT_EQ(ftp_.Connect("joe", "secret"), 230);
  EXPECT_EQ(log_, (Lines{"230 Connect success", "[connect]"}));
  log_.clear();
  EXPECT_EQ(ftp_.Disconnect(), 221);
  EXPECT_EQ(log_, (Lines{"221 Disconnected", "[close]"}));
  log_.clear();
  EXPECT_EQ(ftp_.Disconnect(), 221);  // not connected: nothing sent, the last code again
  EXPECT_TRUE(log_.empty());
}

TEST_F(FacadeTest, AFailedLoginLogsTheCloseBeforeTheRefusal) {
  FakeFtpServer server({Session{Greeting("220 Hi\r\n"), Expect("USER joe", "331 Pass\r\n"),
                                Expect("PASS secret", "530 Login incorrect.\r\n"),
                                Expect("QUIT", "221 Bye\r\n"), Close()}});
  ftp_.SetServer("127.0.0.1", "NONE-is-mapped-by-the-engine", 0);
  ftp_.SetServer("127.0.0.1", "", server.Port());
  ftp_.set_debugmode(true);
  EXPECT_EQ(ftp_.Connect("joe", "secret"), 530);
  EXPECT_EQ(log_, (Lines{"D*#:Connect Send ", "D*#:ConnectionFailed Event", "221 Disconnected",
                         "[close]", "530 Login incorrect."}));
}

TEST_F(FacadeTest, CommandsLogTheirSuccessOrTheirRefusal) {
  FakeFtpServer server({LoggedIn({
      Expect("CWD pub", "250 OK\r\n"), Expect("cwd pub", "250 OK\r\n"),
      Expect("MKD d", "257 made\r\n"), Expect("RMD d", "250 gone\r\n"),
      Expect("DELE a.txt", "550 a.txt: No such file or directory.\r\n"),
      Expect("DELE b", "550-Access denied\r\n550 really\r\n"),
      Expect("RNFR a", "350 go on\r\n"), Expect("RNTO b", "250 Renamed\r\n"),
      Expect("TYPE A", "200 A\r\n"), Expect("TYPE I", "200 I\r\n"), Expect("PWD", "257 \"/\"\r\n"),
      Expect("SITE x", "500 Unknown\r\n"), Silence()})});
  Login(server);
  struct Step {
    std::function<int32_t()> call;
    int32_t result;
    Lines lines;
  } steps[] = {
      {[&] { return ftp_.ChangeDir("pub"); }, 250, {"250 ChangeDir success"}},
      {[&] { return ftp_.DoCommand("cwd pub"); }, 250, {"250 DoCommand success"}},
      {[&] { return ftp_.MakeDir("d"); }, 257, {"257 MakeDir success"}},
      {[&] { return ftp_.RemoveDir("d"); }, 250, {"250 RemoveDir success"}},
      {[&] { return ftp_.Delete("a.txt"); }, 550, {"550 a.txt: No such file or directory."}},
      {[&] { return ftp_.Delete("b"); }, 999, {"550-Access denied"}},
      {[&] { return ftp_.Rename("a", "b"); }, 250, {"250 Rename success"}},
      {[&] { return ftp_.ModeAscii(); }, 200, {"200 DoCommand success"}},
      {[&] { return ftp_.ModeImage(); }, 200, {"200 DoCommand success"}},
      {[&] { return ftp_.DoCommand("PWD"); }, 257, {}},
      {[&] { return ftp_.DoCommand("SITE x"); }, 500, {"500 Unknown"}},
  };
  for (auto& step : steps) {
    log_.clear();
    EXPECT_EQ(step.call(), step.result) << step.result;
    EXPECT_EQ(log_, step.lines) << step.result;
  }
}

TEST_F(FacadeTest, DebugModeBracketsEveryOperationWithItsTraceLines) {
  FakeFtpServer server({LoggedIn({
      Expect("CWD pub", "250 OK\r\n"), Expect("DELE a", "550 No\r\n"),
      Expect("SITE x", "500 Unknown\r\n"), Expect("CWD a", "550 No a\r\n"),
      Expect("CWD b", "250 OK\r\n"), Silence()})});
  Login(server);
  ftp_.set_debugmode(true);
  ftp_.ChangeDir("pub");
  EXPECT_EQ(log_, (Lines{"D*#:ChangeDir Send  pub", "250 ChangeDir success",
                         "D*#:ChangeDir End  "}));
  log_.clear();
  ftp_.Delete("a");
  EXPECT_EQ(log_, (Lines{"D*#:Delete Send  a", "D*#:Failure Event", "550 No"}));
  log_.clear();
  ftp_.DoCommand("SITE x");
  EXPECT_EQ(log_, (Lines{"D*#:Law Command Send", "D*#:UnSupportedFunction Event",
                         "D*#:Failure Event", "500 Unknown"}));
  log_.clear();
  // One CWD per backslash-separated name; a failing one does not stop the next.
  EXPECT_EQ(ftp_.ChangeDir("\\a\\\\b\\"), 250);
  EXPECT_EQ(log_, (Lines{"D*#:ChangeDir Send  a", "D*#:Failure Event", "550 No a",
                         "D*#:ChangeDir Send  b", "250 ChangeDir success", "D*#:ChangeDir End  "}));
}

TEST_F(FacadeTest, DownloadLogsSuccessSummaryThenTheFinishedEvent) {
  FakeFtpServer server({LoggedIn({
      Expect("PORT *", "200 ok\r\n"),
      Expect("RETR a.txt", "150 Opening (5 bytes)\r\n", Data::Send("hello")),
      Reply("226 done\r\n"), Expect("PORT *", "200 ok\r\n"),
      Expect("STOR a.txt", "150 ok\r\n", Data::Receive()), Reply("226 done\r\n"),
      Expect("PORT *", "200 ok\r\n"), Expect("APPE a.txt", "150 ok\r\n", Data::Receive()),
      Reply("226 done\r\n"), Silence()})});
  Login(server);
  std::string local = dir_ / "a.txt";
  EXPECT_EQ(ftp_.Download("a.txt", local), 150);
  EXPECT_EQ(log_, (Lines{"150 Upload success", "    Retrived End 5 Byte (#Byte/sec)",
                         "[retrieved 5]"}));
  log_.clear();
  EXPECT_EQ(ftp_.Upload(local, "a.txt"), 150);
  EXPECT_EQ(log_, (Lines{"150 Upload success", "    Transfer End 5 Byte (#Byte/sec)",
                         "[transferred 5]"}));
  log_.clear();
  EXPECT_EQ(ftp_.UploadAppend(local, "a.txt"), 150);
  EXPECT_EQ(log_, (Lines{"150 UploadAppend success", "    Transfer End 5 Byte (#Byte/sec)",
                         "[transferred 5]"}));
  EXPECT_TRUE(server.Wait(5s)) << server.Transcript();
  EXPECT_EQ(server.ReceivedData(1), "hello");
  EXPECT_EQ(server.ReceivedData(2), "hello");
}

TEST_F(FacadeTest, ListHandsOverWhatArrivedAndSucceedsOnlyWhenTheServerSaysItIsWhole) {
  FakeFtpServer server({LoggedIn({
      Expect("CWD sub", "250 ok\r\n"), Expect("PORT *", "200 ok\r\n"),
      Expect("LIST", "150 here\r\n", Data::Send("a\r\n\r\nb\r\n")), Reply("226 done\r\n"),
      Expect("PORT *", "200 ok\r\n"), Expect("LIST", "550 none\r\n"),
      Expect("PORT *", "200 ok\r\n"), Expect("LIST", "150 here\r\n", Data::Send("a\r\nb")),
      Reply("426 Connection closed; transfer aborted.\r\n"), Silence()})});
  Login(server);
  std::string listing = "untouched";
  EXPECT_EQ(ftp_.List("sub", listing), 150);
  EXPECT_EQ(listing, "a\r\n\r\n\r\nb\r\n");  // a line of two bytes keeps its line end
  EXPECT_EQ(log_, (Lines{"250 ChangeDir success", "150 List success"}));
  EXPECT_EQ(ftp_.List("", listing), 550);
  EXPECT_EQ(listing, "");
  log_.clear();
  EXPECT_EQ(ftp_.List("", listing), 426);
  EXPECT_EQ(listing, "a\r\nb\r\n");
  EXPECT_EQ(log_, (Lines{"426 Connection closed; transfer aborted."}));
}

TEST_F(FacadeTest, ResetByPeerLogsTheErrorEventThenTheError) {
  FakeFtpServer server({LoggedIn({Expect("NOOP"), testing::Reset()})});
  Login(server);
  EXPECT_EQ(ftp_.DoCommand("NOOP"), 999);
  EXPECT_EQ(log_, (Lines{"10054:Connection reset by peer 10054",
                         "10054:Connection reset by peer"}));
}

TEST_F(FacadeTest, ChangeDirWithoutADirectorySendsNothing) {
  EXPECT_EQ(ftp_.ChangeDir(""), 999);
  EXPECT_EQ(log_, (Lines{"ChangeDir: no directory given"}));
}

TEST_F(FacadeTest, NotConnectedAndNoServer) {
  EXPECT_EQ(ftp_.Delete("x"), 999);
  EXPECT_EQ(log_, (Lines{"Not Connected"}));
  log_.clear();
  // Before SetServer nothing is relayed: no connect or close events, whatever happens.
  EXPECT_EQ(ftp_.Connect("joe", "x"), 999);
  EXPECT_EQ(log_.size(), 1u);
}

TEST_F(FacadeTest, ACommandWithoutAReplyIsAbandonedAfterTheTimeOut) {
  FakeFtpServer server({LoggedIn({Expect("NOOP"), Silence()})});
  Login(server);
  ftp_.SetWaitTimeout(1000);
  ftp_.set_debugmode(true);
  int64_t start = platform::MonotonicMs();
  EXPECT_EQ(ftp_.DoCommand("NOOP"), 999);
  int64_t took = platform::MonotonicMs() - start;
  EXPECT_GE(took, 1000);
  EXPECT_LE(took, 2000 + 300);
  EXPECT_EQ(log_, (Lines{"D*#:Law Command Send", "D*#:TimeOut Abort", "Socket readln aborted"}));
}

TEST_F(FacadeTest, ADownloadThatKeepsDeliveringIsNeverAbandoned) {
  FakeFtpServer server({LoggedIn({Expect("PORT *", "200 ok\r\n"),
                                  Expect("RETR slow", "150 ok\r\n",
                                         Data::Send(std::string(10, 'x')).Chunks(1, 300ms)),
                                  Reply("226 done\r\n"), Silence()})});
  Login(server);
  // Ten times the gap between blocks, so that only a fault, not a slow machine, abandons it.
  ftp_.SetWaitTimeout(3000);
  EXPECT_EQ(ftp_.Download("slow", dir_ / "slow"), 150);  // ~3 s, a block every 0.3 s
  EXPECT_EQ(log_.back(), "[retrieved 10]");
}

TEST_F(FacadeTest, AListingIsTimedFromItsStart) {
  FakeFtpServer server({LoggedIn({Expect("PORT *", "200 ok\r\n"),
                                  Expect("LIST", "150 ok\r\n",
                                         Data::Send(std::string(40, '\n')).Chunks(1, 100ms)
                                             .InBackground()),
                                  Expect("ABOR", "426 Aborted\r\n226 ABOR ok\r\n"),
                                  Silence()})});
  Login(server);
  ftp_.SetWaitTimeout(1000);
  std::string listing;
  int64_t start = platform::MonotonicMs();
  EXPECT_EQ(ftp_.List("", listing), 999);  // lines keep coming, but nothing refreshes the clock
  EXPECT_LE(platform::MonotonicMs() - start, 2000 + 300);
}

TEST_F(FacadeTest, TheSendWaitCountsAgainstTheTimeOut) {
  FakeFtpServer server({LoggedIn({Expect("PORT *", "200 ok\r\n"),
                                  Expect("STOR big", "150 ok\r\n", Data::Receive()),
                                  Silence()})});
  Login(server);
  ftp_.SetWaitTimeout(1000);
  std::string local = dir_ / "big";
  std::ofstream(local, std::ios::binary) << std::string(400'000, 'b');
  ftp_.Ontransfer = [](TLowFTP&, int64_t, int32_t) { std::this_thread::sleep_for(1200ms); };
  EXPECT_EQ(ftp_.Upload(local, "big"), 999);
  EXPECT_EQ(log_.back(), "Socket send aborted");
}

}  // namespace
}  // namespace tarnex

namespace tarnex {
namespace {

TEST_F(FacadeTest, QuitToASilentServerGivesUpAfterTheTimeOut) {
  FakeFtpServer server({LoggedIn({Expect("QUIT"), Silence()})});
  Login(server);
  ftp_.SetWaitTimeout(1000);
  int64_t start = platform::MonotonicMs();
  ftp_.Disconnect();
  EXPECT_LE(platform::MonotonicMs() - start, 1500);
  EXPECT_EQ(log_.front(), "Socket readln aborted");
}

}  // namespace
}  // namespace tarnex
