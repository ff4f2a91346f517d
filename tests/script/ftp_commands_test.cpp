// The FTP commands of a script against a scripted server: what is sent, what is logged, the
// result flag and the status panels.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "script/engine.h"
#include "tests/support/fake_ftp_server.h"
#include "tests/support/fake_host.h"
#include "tests/support/temp_dir.h"

namespace tarnex::script {
namespace {

using namespace std::chrono_literals;
using platform::Utf8ToCp932;
using testing::Close;
using testing::Expect;
using testing::FakeFtpServer;
using testing::Greeting;
using testing::Reply;
using testing::Session;
using testing::Silence;
namespace Data = testing::Data;
using Lines = std::vector<std::string>;

// Runs without the half-second pause between lines.
class QuickEngine : public ScriptEngine {
 public:
  using ScriptEngine::ScriptEngine;
  void ProcessWait(int) override {}
};

class FtpCommandsTest : public ::testing::Test {
 protected:
  FtpCommandsTest()
      : store_(std::make_shared<platform::RegistryStore>(dir_ / "registry.db")),
        engine_(host_, settings_, store_) {
    engine_.FScriptName = "t.fcs";
  }

  // The body of a run's log (without its start and end lines).
  Lines Run(const Lines& lines) {
    host_.log.clear();
    engine_.Run(lines);
    return Lines(host_.log.begin() + 1, host_.log.end() - 1);
  }
  std::string OpenLine(const FakeFtpServer& server) {
    // The port with a thousands comma, which the port word allows.
    std::string port = std::to_string(server.Port());
    return "Open 127.0.0.1 none " + port.substr(0, port.size() - 3) + "," +
           port.substr(port.size() - 3);
  }
  static std::vector<testing::Step> LoggedIn(std::vector<testing::Step> steps) {
    std::vector<testing::Step> all{Greeting("220 Hi\r\n"), Expect("USER joe", "331 Pass\r\n"),
                                   Expect("PASS se", "230 Logged in\r\n")};
    all.insert(all.end(), steps.begin(), steps.end());
    return all;
  }
  std::string FileBytes(const std::string& leaf) {
    std::ifstream in(dir_ / leaf, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  testing::TempDir dir_;
  testing::FakeHost host_;
  settings::LiveSettings settings_;
  std::shared_ptr<platform::RegistryStore> store_;
  QuickEngine engine_;
};

TEST_F(FtpCommandsTest, AWholeSessionSendsLogsAndReports) {
  FakeFtpServer server({Session(LoggedIn({
      Expect("CWD pub", "250 ok\r\n"), Expect("CWD incoming", "250 ok\r\n"),
      Expect("CWD a/b", "250 ok\r\n"),
      Expect("TYPE I", "200 I\r\n"), Expect("TYPE A", "200 A\r\n"),
      Expect("SITE CHMOD 644 a.txt", "200 done\r\n"), Expect(" NOOP", "200 ok\r\n"),
      Expect("PORT *", "200 ok\r\n"),
      Expect("RETR my file.txt", "150 Opening (3 bytes)\r\n", Data::Send("abc")),
      Reply("226 done\r\n"), Expect("PORT *", "200 ok\r\n"),
      Expect("RETR missing", "550 missing: No such file\r\n"),
      Expect("MKD d", "257 made\r\n"), Expect("RMD d", "250 gone\r\n"),
      Expect("DELE x", "250 deleted\r\n"), Expect("RNFR a", "350 go\r\n"),
      Expect("RNTO b c", "250 renamed\r\n"),
      Expect("QUIT", "221 Goodbye\r\n"), Close()}))});
  auto before = std::filesystem::current_path();
  std::filesystem::current_path(dir_.path());  // the local files land here
  auto body = Run({OpenLine(server), "Login joe se cret extra", "Cd pub\\incoming", "Cd a/b",
                   "Binary whatever", "Ascii", "FTP SITE CHMOD 644 a.txt", "FTP  NOOP",
                   "Get \"my file.txt\" local.txt", "Get missing local2.txt",
                   "if Error Rem the get failed", "md d", "rd d", "Del x",
                   "rename a \"b c\"", "Dialup", "if NonError Rem dialup kept the flag", "Bye"});
  std::filesystem::current_path(before);
  std::string port_word = OpenLine(server);
  EXPECT_EQ(body, (Lines{port_word,
                         "Login joe **** cret extra",  // the password never shows
                         "230 Connect success",
                         "Cd pub\\incoming",
                         "250 ChangeDir success",
                         "250 ChangeDir success",
                         "Cd a/b",
                         "250 ChangeDir success",
                         "Binary whatever",
                         "200 DoCommand success",
                         "Ascii",
                         "200 DoCommand success",
                         "FTP SITE CHMOD 644 a.txt",
                         "200 DoCommand success",
                         "FTP  NOOP",
                         "200 DoCommand success",
                         "Get \"my file.txt\" local.txt",
                         "150 Upload success",
                         "    Retrived End 3 Byte (" + body[18].substr(body[18].find('(') + 1),
                         "Get missing local2.txt",
                         "550 missing: No such file",
                         "if Error Rem the get failed",
                         "md d",
                         "257 MakeDir success",
                         "rd d",
                         "250 RemoveDir success",
                         "Del x",
                         "250 Delete success",
                         "rename a \"b c\"",
                         "250 Rename success",
                         "Dialup",
                         "if NonError Rem dialup kept the flag",
                         "Bye",
                         "221 Disconnected"}));
  EXPECT_EQ(FileBytes("local.txt"), "abc");
  EXPECT_FALSE(std::ifstream(dir_ / "local2.txt").good());  // a refused RETR creates nothing
  ASSERT_EQ(host_.boxes.size(), 1u);
  EXPECT_EQ(host_.boxes[0].text, Utf8ToCp932("現在未実装"));
  EXPECT_EQ(host_.panels[1], "DisConnect");
  EXPECT_EQ(host_.panels[2], "");
  EXPECT_EQ(host_.panels[3].rfind("Retrieved 3(", 0), 0u);
  EXPECT_FALSE(engine_.FConnected);
  EXPECT_TRUE(engine_.FCommandOk);
  EXPECT_EQ(engine_.FailedCommands(), 1);
  EXPECT_TRUE(server.Wait(5s)) << server.Transcript();
  EXPECT_EQ(server.Mismatches(), "");
}

TEST_F(FtpCommandsTest, ConnectEventsDriveThePanels) {
  FakeFtpServer server({Session(LoggedIn({Silence()}))});
  Run({OpenLine(server), "Login joe se cret"});
  EXPECT_EQ(host_.panels[1], "Connect");
  EXPECT_EQ(host_.panels[2], "127.0.0.1");
  EXPECT_TRUE(engine_.FConnected);
  EXPECT_EQ(engine_.FHost, "127.0.0.1");
  EXPECT_EQ(engine_.FPassword, "se");  // a word ends at the blank
}

TEST_F(FtpCommandsTest, AByeWithoutAConnectionTellsNothingOfHowTheRunWent) {
  // `if Error` after it sees what it always saw; what an exit status is made of does not change.
  struct Case {
    const char* name;
    std::vector<testing::Step> steps;
    Lines lines;  // after the Open line
    bool flag;
    bool last_result;
  } cases[] = {
      {"the clean-up after a refused login",
       {Greeting("220 Hi\r\n"), Expect("USER joe", "331 Pass\r\n"),
        Expect("PASS se", "530 Login incorrect\r\n"), Expect("QUIT", "221 Bye\r\n"), Close()},
       {"Login joe se", "if Error goto failed", "Rem never", ":failed", "Bye"},
       true, false},
      {"no login at all after a success", {}, {"lcd .", "Bye"}, true, true},
      {"an open session ends as always",
       LoggedIn({Expect("SITE X", "500 Unknown\r\n"), Expect("QUIT", "221 Bye\r\n"), Close()}),
       {"Login joe se", "FTP SITE X", "Bye"},
       true, true},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Session> sessions;
    if (!c.steps.empty()) sessions.emplace_back(std::move(c.steps));
    FakeFtpServer server(std::move(sessions));
    Lines lines{OpenLine(server)};
    lines.insert(lines.end(), c.lines.begin(), c.lines.end());
    const Lines body = Run(lines);
    if (!c.lines.empty() && c.lines[0].starts_with("Login")) {
      EXPECT_TRUE(server.Wait(5s)) << server.Transcript();
    }
    EXPECT_EQ(server.Mismatches(), "") << server.Transcript();
    EXPECT_EQ(engine_.FCommandOk, c.flag) << ::testing::PrintToString(body);
    EXPECT_EQ(engine_.LastResultOk(), c.last_result) << ::testing::PrintToString(body);
  }
}

TEST_F(FtpCommandsTest, LoginTakesQuotedArgumentsAndMasksThePasswordWhole) {
  struct Case {
    const char* line;
    const char* user;      // as the server receives them
    const char* password;
    const char* logged;
  } cases[] = {
      {"Login joe \"pa ss\"", "joe", "pa ss", "Login joe ****"},
      {"Login joe pa\"ss", "joe", "pa\"ss", "Login joe ****"},  // no quote at its start
      {"Login \"my user\" \"x y\" extra", "my user", "x y", "Login \"my user\" **** extra"},
  };
  std::vector<Session> sessions;
  for (const auto& c : cases) {
    sessions.push_back(Session{Greeting("220 Hi\r\n"),
                               Expect("USER " + std::string(c.user), "331 Pass\r\n"),
                               Expect("PASS " + std::string(c.password), "230 In\r\n"),
                               Expect("QUIT", "221 Bye\r\n"), Close()});
  }
  FakeFtpServer server(sessions);
  Lines script{OpenLine(server)};
  for (const auto& c : cases) script.insert(script.end(), {c.line, "Bye"});
  const Lines body = Run(script);
  for (const auto& c : cases) {
    EXPECT_NE(std::find(body.begin(), body.end(), c.logged), body.end()) << c.line;
    for (const auto& line : body) EXPECT_EQ(line.find(c.password), std::string::npos) << line;
  }
  EXPECT_TRUE(server.Wait(5s)) << server.Transcript();
  EXPECT_EQ(server.Mismatches(), "");
}

CredentialsAnswer Answer(CredentialsAnswer::Outcome outcome, std::string user = "",
                         std::string password = "", std::string problem = "") {
  return {outcome, std::move(user), std::move(password), "/n/.netrc", std::move(problem)};
}

TEST_F(FtpCommandsTest, ALoginWithoutAPasswordAsksTheCredentialsLookup) {
  using Outcome = CredentialsAnswer::Outcome;
  struct Case {
    const char* line;
    CredentialsAnswer answer;
    const char* asked_user;  // nullptr: the lookup is not asked
    const char* user;        // as the server receives it; nullptr: nothing is sent
    const char* password;
    const char* logged;      // the line after the script line
  } cases[] = {
      {"Login joe", Answer(Outcome::Found, "joe", "net pw"), "joe", "joe", "net pw",
       "Login: joe and the password from /n/.netrc"},
      {"Login", Answer(Outcome::Found, "ann", "pw2"), "", "ann", "pw2",
       "Login: ann and the password from /n/.netrc"},
      {"Login joe", Answer(Outcome::None), "joe", "joe", "", "230 Connect success"},
      {"Login joe \"\"", Answer(Outcome::Found, "x", "y"), nullptr, "joe", "",
       "230 Connect success"},
      {"Login joe se", Answer(Outcome::Found, "x", "y"), nullptr, "joe", "se",
       "230 Connect success"},
      {"Login joe", Answer(Outcome::Refused, "", "", "/n/.netrc is open to all"), "joe", nullptr,
       nullptr, "Login: no password: /n/.netrc is open to all"},
  };
  std::vector<Session> sessions;
  for (const auto& c : cases) {
    if (c.user == nullptr) continue;
    const std::string pass = *c.password ? "PASS " + std::string(c.password) : "PASS*";
    sessions.push_back(Session{Greeting("220 Hi\r\n"),
                               Expect("USER " + std::string(c.user), "331 Pass\r\n"),
                               Expect(pass, "230 In\r\n"), Expect("QUIT", "221 Bye\r\n"),
                               Close()});
  }
  FakeFtpServer server(sessions);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    std::vector<std::string> asked;
    engine_.OnLoginCredentials = [&](const std::string& host, const std::string& user) {
      asked.push_back(host + " " + user);
      return c.answer;
    };
    const Lines body = Run({OpenLine(server), c.line, "Bye"});
    ASSERT_GE(body.size(), 3u);
    EXPECT_EQ(body[2], c.logged);
    EXPECT_EQ(asked, c.asked_user ? Lines{"127.0.0.1 " + std::string(c.asked_user)} : Lines{});
    EXPECT_EQ(engine_.FailedCommands() > 0, c.user == nullptr);  // only the refusal fails
  }
  EXPECT_TRUE(server.Wait(5s)) << server.Transcript();
  EXPECT_EQ(server.Mismatches(), "");
}

TEST_F(FtpCommandsTest, DirWritesTheListingToTheLogAndTheFile) {
  struct Case {
    std::string line;
    std::vector<testing::Step> steps;
    Lines log;
    std::string file;     // the list file's name
    std::string content;  // its bytes
    bool ok = true;       // the result flag after it
  } cases[] = {
      {"Dir >list.txt",
       {Expect("PORT *", "200 ok\r\n"), Expect("LIST", "150 ok\r\n", Data::Send("a\r\n\r\nb\r\n")),
        Reply("226 done\r\n")},
       {"150 List success", "a", "b", ""}, "list.txt", "a\r\nb\r\n\r\n"},
      {"Dir sub > spaced.txt",
       {Expect("CWD sub", "250 ok\r\n"), Expect("PORT *", "200 ok\r\n"),
        Expect("LIST", "150 ok\r\n", Data::Send("x\r\n")), Reply("226 done\r\n")},
       {"250 ChangeDir success", "150 List success", "x", ""}, " spaced.txt", "x\r\n\r\n"},
      // A control character from the server is shown escaped; the file keeps its bytes.
      {"Dir >ctl.txt",
       {Expect("PORT *", "200 ok\r\n"),
        Expect("LIST", "150 ok\r\n", Data::Send("a\x1b[2Jb\x07\r\n")), Reply("226 done\r\n")},
       {"150 List success", "a\\x1b[2Jb\\x07", ""}, "ctl.txt", "a\x1b[2Jb\x07\r\n\r\n"},
      {"Dir >empty.txt",
       {Expect("PORT *", "200 ok\r\n"), Expect("LIST", "550 No files\r\n")},
       {"550 No files"}, "empty.txt", "", false},
      // A listing the server calls incomplete fails; what came is still shown and kept.
      {"Dir >cut.txt",
       {Expect("PORT *", "200 ok\r\n"), Expect("LIST", "150 ok\r\n", Data::Send("a\r\nb\r\n")),
        Reply("426 Connection closed; transfer aborted.\r\n")},
       {"426 Connection closed; transfer aborted.", "a", "b", ""}, "cut.txt", "a\r\nb\r\n\r\n",
       false},
      {"Dir", {Expect("PORT *", "200 ok\r\n"), Expect("LIST", "150 ok\r\n", Data::Close()),
               Reply("226 done\r\n")},
       {"150 List success"}, "", ""},
  };
  for (auto& c : cases) {
    std::vector<testing::Step> steps = LoggedIn(c.steps);
    steps.push_back(Expect("QUIT", "221 Bye\r\n"));
    steps.push_back(Close());
    FakeFtpServer server({Session(steps)});
    auto before = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
    auto body = Run({OpenLine(server), "Login joe se cret", c.line});
    std::filesystem::current_path(before);
    Lines log(body.begin() + 4, body.end());  // after Open, Login and the Dir line itself
    EXPECT_EQ(log, c.log) << c.line;
    EXPECT_EQ(engine_.FCommandOk, c.ok) << c.line;
    if (!c.file.empty()) {
      EXPECT_EQ(FileBytes(c.file), c.content) << c.line;
    }
    engine_.FTP.Disconnect();
  }
}

TEST_F(FtpCommandsTest, AListFileThatCannotBeWrittenEscapesAfterTheFlagIsSet) {
  FakeFtpServer server({Session(LoggedIn({Expect("PORT *", "200 ok\r\n"),
                                          Expect("LIST", "150 ok\r\n", Data::Send("a\r\n")),
                                          Reply("226 done\r\n"), Silence()}))});
  std::string bad = dir_ / "no/such/dir/list.txt";
  EXPECT_THROW(Run({OpenLine(server), "Login joe se cret", "Dir >" + bad, "Rem never"}),
               EFileError);
  EXPECT_TRUE(engine_.FCommandOk);
  EXPECT_EQ(host_.log[host_.log.size() - 2], "");  // the listing was logged before the write
  EXPECT_EQ(host_.log.back().rfind("<<t.fcs>> end   ", 0), 0u);
}

TEST_F(FtpCommandsTest, UploadsShowProgressAndMayWaitAfterEachBlock) {
  std::ofstream(dir_ / "up.bin", std::ios::binary) << std::string(70'000, 'u');
  FakeFtpServer server({Session(LoggedIn({Expect("PORT *", "200 ok\r\n"),
                                          Expect("STOR up.bin", "150 ok\r\n", Data::Receive()),
                                          Reply("226 done\r\n"), Silence()}))});
  settings_.cb_wait = true;
  settings_.sp_Wsec = 0;
  std::vector<std::string> progress;
  auto before = std::filesystem::current_path();
  std::filesystem::current_path(dir_.path());
  Run({OpenLine(server), "Login joe se cret", "Put up.bin"});
  std::filesystem::current_path(before);
  EXPECT_EQ(host_.panels[3].rfind("Transfered 70000(", 0), 0u) << host_.panels[3];
  EXPECT_TRUE(server.Wait(5s)) << server.Transcript();
  EXPECT_EQ(server.ReceivedData(0), std::string(70'000, 'u'));
}

TEST_F(FtpCommandsTest, PassiveSwitchesTheNextDataConnectionAndRegetReportsItsOutcome) {
  std::ofstream(dir_ / "part.bin", std::ios::binary) << "0123";
  FakeFtpServer server({Session(LoggedIn(
      {Expect("EPSV", "229 Extended ({epsv})\r\n"),
       Expect("RETR a.txt", "150 ok\r\n", Data::Send("a")), Reply("226 done\r\n"),
       Expect("PORT *", "200 ok\r\n"), Expect("RETR b.txt", "150 ok\r\n", Data::Send("b")),
       Reply("226 done\r\n"), Expect("TYPE A", "200 A\r\n"), Expect("TYPE I", "200 I\r\n"),
       Expect("SIZE part.bin", "213 4\r\n"),
       Silence()}))});
  auto before = std::filesystem::current_path();
  std::filesystem::current_path(dir_.path());
  auto body = Run({OpenLine(server), "Login joe se cret", "Passive on", "Get a.txt",
                   "Passive maybe", "if Error Rem a word it does not know", "Passive OFF",
                   "Get b.txt", "Ascii", "reget part.bin", "if Error Rem ascii refused",
                   "Binary", "reget part.bin", "if NonError Rem nothing to do"});
  std::filesystem::current_path(before);
  auto has = [&](const std::string& line) {
    return std::find(body.begin(), body.end(), line) != body.end();
  };
  EXPECT_TRUE(has("Passive: give on or off, not 'maybe'")) << ::testing::PrintToString(body);
  EXPECT_TRUE(has("if Error Rem a word it does not know"));
  EXPECT_TRUE(has("Resume needs binary mode: give Binary first"));
  EXPECT_TRUE(has("Already complete: part.bin"));
  EXPECT_TRUE(engine_.FCommandOk);
  EXPECT_EQ(FileBytes("a.txt") + FileBytes("b.txt"), "ab");
  EXPECT_EQ(FileBytes("part.bin"), "0123");
  EXPECT_EQ(server.Mismatches(), "") << server.Transcript();
}

}  // namespace
}  // namespace tarnex::script
