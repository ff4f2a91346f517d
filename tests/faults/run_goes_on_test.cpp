// A failing FTP command never stops a script: the failure is one log line, the result flag
// says so, and the next line runs. Through the engine with a test host, and end to end through
// tarnex-run.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/registry.h"
#include "script/engine.h"
#include "tests/faults/fault_fixture.h"
#include "tests/support/fake_host.h"
#include "tests/support/process_run.h"

namespace tarnex::faults {
namespace {

using namespace std::chrono_literals;
using platform::Utf8ToCp932;
using testing::Close;
using testing::Expect;
using testing::FakeFtpServer;
using testing::Reply;
using testing::Session;
using testing::Silence;
namespace Data = testing::Data;

// Without the half-second pause between lines.
class QuickEngine : public script::ScriptEngine {
 public:
  using ScriptEngine::ScriptEngine;
  void ProcessWait(int) override {}
};

struct ScriptFault {
  const char* name;
  Steps steps;                // after the login
  std::string command;        // the failing line
  std::string failure;        // its failure line in the log
  int64_t min_ms = 0;
};

TEST(RunGoesOn, AfterEveryKindOfFailure) {
  testing::TempDir dir;
  const std::string kept = dir / "kept.txt";
  const std::string folder = dir / "folder";
  std::filesystem::create_directory(folder);
  const ScriptFault faults[] = {
      {"no reply", {Expect("CWD pub"), Silence()}, "Cd pub", "Socket readln aborted",
       kWaitTimeoutMs},
      {"drop", {Expect("CWD pub"), Close()}, "Cd pub", "Connection closed by server"},
      {"code out of range", {Expect("CWD pub", "99999 x\r\n"), Silence()}, "Cd pub",
       "99999 x"},
      {"reset mid-transfer",
       {Expect("PORT *", "200 ok\r\n"),
        Expect("RETR a.bin", "150 ok\r\n",
               Data::Send(std::string(1 << 20, 'd')).Chunks(65536, 5ms).ResetAfter(200000)),
        Silence()},
       "Get a.bin " + (dir / "got.bin"), "10054:Connection reset by peer"},
      {"refused download", {Expect("PORT *", "200 ok\r\n"), Expect("RETR a.bin", "550 No\r\n"),
                            Silence()},
       "Get a.bin " + kept, "550 No"},
      {"full disk",
       {Expect("PORT *", "200 ok\r\n"),
        Expect("RETR a.bin", "150 ok\r\n", Data::Send(std::string(1 << 20, 'd')).InBackground()),
        Reply("226 done\r\n"), Silence()},
       "Get a.bin /dev/full", Utf8ToCp932("ファイル /dev/full に書き込めません")},
      {"unreadable local file", {Silence()}, "Put " + folder + " a.bin",
       Utf8ToCp932("ファイル " + folder + " は開けません")},
  };
  for (const auto& fault : faults) {
    SCOPED_TRACE(fault.name);
    WriteBytes(kept, "the user's own file\r\n");
    FakeFtpServer server({Session(LoggedIn(fault.steps))}, {.io_timeout = 5s});
    testing::FakeHost host;
    settings::LiveSettings settings;
    settings.Ed_timeout = kWaitTimeoutMs / 1000;
    QuickEngine engine(host, settings,
                       std::make_shared<platform::RegistryStore>(dir / "registry.db"));
    engine.FScriptName = "fault.fcs";
    const int64_t start = platform::MonotonicMs();
    engine.Run({"Open 127.0.0.1 NONE " + std::to_string(server.Port()), "Login joe secret",
                fault.command, "Rem next"});
    const int64_t took = platform::MonotonicMs() - start;

    const Lines& log = host.log;
    const auto failure = std::find(log.begin(), log.end(), fault.failure);
    const auto next = std::find(log.begin(), log.end(), "Rem next");
    ASSERT_NE(failure, log.end()) << Joined(log);
    ASSERT_NE(next, log.end()) << Joined(log);
    EXPECT_LT(failure, next);
    EXPECT_EQ(log.back().rfind("<<fault.fcs>> end ", 0), 0u) << Joined(log);
    EXPECT_FALSE(engine.FCommandOk);
    EXPECT_EQ(engine.FailedCommands(), 1);
    EXPECT_GE(took, fault.min_ms);
    EXPECT_LE(took, kNoHangMs + 1000);  // the login and the other lines included
    EXPECT_EQ(ReadBytes(kept), "the user's own file\r\n");
  }
}

// The real program, with its real pauses between lines, its settings store and exit status.
TEST(RunGoesOn, EndToEndThroughTheRunner) {
  testing::TempDir dir;
  FakeFtpServer server({Session(LoggedIn({Expect("CWD pub", "99999 x\r\n"),
                                          Expect("CWD pub", "250 ok\r\n"),
                                          Expect("QUIT", "221 Bye\r\n"), Close()}))});
  WriteBytes(dir / "fault.fcs", "Open 127.0.0.1 NONE " + std::to_string(server.Port()) +
                                    "\r\nLogin joe secret\r\nCd pub\r\nRem next\r\n"
                                    "Cd pub\r\nBye\r\n");
  const testing::ProcessOutcome o = testing::RunProcess(
      dir.path().string(),
      "env TARNEX_REGISTRY='" + (dir / "registry.db") + "' '" TARNEX_RUN "' fault.fcs", 30);
  EXPECT_EQ(o.status, 1) << o.out << o.err;  // a command failed; the run went to its end
  const size_t failure = o.out.find("\n99999 x\n");
  const size_t next = o.out.find("\nRem next\n");
  ASSERT_NE(failure, std::string::npos) << o.out;
  ASSERT_NE(next, std::string::npos) << o.out;
  EXPECT_LT(failure, next);
  EXPECT_NE(o.out.find("\n250 ChangeDir success\n", next), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("\n<<fault.fcs>> end "), std::string::npos) << o.out;
  EXPECT_TRUE(server.Wait(5s)) << server.Transcript();
  EXPECT_EQ(server.Mismatches(), "");
}

// A mirror whose source folder was listed only in part (the server closed the listing with
// 426) deletes nothing in it, keeps what came, and the run ends with status 1.
TEST(RunGoesOn, AMirrorOverACutListingFailsTheRunAndDeletesNothing) {
  testing::TempDir dir;
  std::filesystem::create_directories(dir / "out/sub");
  WriteBytes(dir / "out/sub/mine.txt", "mine");
  const auto mlsd = [](const std::string& folder, const std::string& lines,
                       const std::string& closing) {
    return Steps{Expect("PORT *", "200 ok\r\n"),
                 Expect("MLSD " + folder, "150 ok\r\n", Data::Send(lines)), Reply(closing)};
  };
  Steps steps{Expect("TYPE I", "200 ok\r\n"),
              Expect("FEAT", "211-Features:\r\n MLST type*;size*;modify*;\r\n211 End\r\n")};
  for (const Steps& part :
       {mlsd("src", "type=file;size=3;modify=20200101000000; new.txt\r\ntype=dir; sub\r\n",
             "226 done\r\n"),
        mlsd("src/sub", "type=file;size=1; a.txt\r\n",
             "426 Connection closed; transfer aborted.\r\n"),
        Steps{Expect("PORT *", "200 ok\r\n"),
              Expect("RETR src/new.txt", "150 ok\r\n", Data::Send("new")), Reply("226 done\r\n"),
              Expect("QUIT", "221 Bye\r\n"), Close()}}) {
    steps.insert(steps.end(), part.begin(), part.end());
  }
  FakeFtpServer server({Session(LoggedIn(steps))});
  WriteBytes(dir / "mirror.fcs", "Open 127.0.0.1 NONE " + std::to_string(server.Port()) +
                                     "\r\nLogin joe secret\r\nPassive off\r\nBinary\r\n"
                                     "mirror --delete src out\r\nBye\r\n");
  const testing::ProcessOutcome o = testing::RunProcess(
      dir.path().string(),
      "env TARNEX_REGISTRY='" + (dir / "registry.db") + "' '" TARNEX_RUN "' mirror.fcs", 30);
  EXPECT_EQ(o.status, 1) << o.out << o.err;
  EXPECT_NE(o.out.find("\nmirror: sub: could not be listed\n"), std::string::npos) << o.out;
  EXPECT_EQ(ReadBytes(dir / "out/sub/mine.txt"), "mine");
  EXPECT_EQ(ReadBytes(dir / "out/new.txt"), "new");
  EXPECT_TRUE(server.Wait(5s)) << server.Transcript();
  EXPECT_EQ(server.Mismatches(), "");
}

}  // namespace
}  // namespace tarnex::faults
