// tarnex-run's options end to end: the real binary, real script files, a private settings
// store, and a scripted FTP server on loopback where one is needed.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/support/fake_ftp_server.h"
#include "tests/support/process_run.h"
#include "tests/support/temp_dir.h"

namespace {

using Outcome = tarnex::testing::ProcessOutcome;
namespace fs = std::filesystem;

class RunnerCliTest : public ::testing::Test {
 protected:
  void Write(const std::string& leaf, const std::string& bytes) {
    std::ofstream(dir_ / leaf, std::ios::binary) << bytes;
  }
  std::string Read(const std::string& leaf) {
    std::ifstream in(dir_ / leaf, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  Outcome Run(const std::string& args) {
    return tarnex::testing::RunProcess(
        dir_.path().string(),
        "'" TARNEX_RUN "' --registry '" + (dir_ / "registry.db") + "' " + args);
  }
  // The log without the start and end lines.
  static std::string Body(const std::string& out) {
    const size_t first = out.find('\n');
    const size_t last = out.rfind('\n', out.size() - 2);
    if (first == std::string::npos || last == std::string::npos || last < first) return "";
    return out.substr(first + 1, last - first);
  }
  static bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }

  tarnex::testing::TempDir dir_;
};

TEST_F(RunnerCliTest, SlipsAreWarnedAboutAndStrictEndsTheRunThere) {
  const struct {
    const char* script;
    const char* flags;
    int status;
    const char* body;
    const char* warning;
  } cases[] = {
      {"Rem a\r\nGett x\r\nRem b\r\n", "", 0, "Rem a\nGett x\nRem b\n",
       "tarnex-run: line 2: unknown command 'Gett'"},
      {"Rem a\r\nGett x\r\nRem b\r\n", "--strict", 2, "Rem a\nGett x\n",
       "tarnex-run: line 2: unknown command 'Gett'"},
      {"goto nowhere\r\nRem b\r\n", "", 0, "goto nowhere\n",
       "tarnex-run: line 1: goto to a missing label 'nowhere'"},
      {"goto nowhere\r\n", "--strict", 2, "goto nowhere\n", "line 1: goto to a missing label"},
      {"if Eror Rem x\r\nRem b\r\n", "", 0, "if Eror Rem x\nRem b\n",
       "tarnex-run: line 1: the condition 'Eror' is neither Error nor NonError, so the command "
       "runs"},
      {"if Eror Rem x\r\nRem b\r\n", "--strict", 2, "if Eror Rem x\n", "line 1: the condition"},
      {"\xEF\xBB\xBFRem a\r\n:label\r\n\r\n", "--strict", 0, "Rem a\n:label\n\n", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.script) + c.flags);
    Write("s.fcs", c.script);
    const Outcome o = Run(std::string(c.flags) + " s.fcs");
    EXPECT_EQ(o.status, c.status) << o.err;
    EXPECT_EQ(Body(o.out), c.body);
    EXPECT_TRUE(Has(o.out, ">> end   ")) << o.out;  // the end line is always written
    if (*c.warning == '\0') {
      EXPECT_EQ(o.err, "");
    }
    EXPECT_TRUE(Has(o.err, c.warning)) << o.err;
  }
}

TEST_F(RunnerCliTest, ExitStatusLastIsTheResultFlagAtTheEnd) {
  const struct {
    const char* script;
    int any;
    int last;
  } cases[] = {
      {"ldel missing.txt\r\nlcd .\r\n", 1, 0},
      {"lcd .\r\nldel missing.txt\r\nRem the flag stays\r\n", 1, 1},
      {"Rem nothing reports\r\n", 0, 1},  // the flag is false until a command succeeds
      // A Bye with no connection (the clean-up after a failed Login) tells nothing.
      {"lcd .\r\nldel missing.txt\r\nBye\r\n", 1, 1},
      {"lcd .\r\nBye\r\n", 0, 0},
  };
  for (const auto& c : cases) {
    Write("s.fcs", c.script);
    EXPECT_EQ(Run("s.fcs").status, c.any) << c.script;
    EXPECT_EQ(Run("--exit-status any s.fcs").status, c.any) << c.script;
    EXPECT_EQ(Run("--exit-status=last s.fcs").status, c.last) << c.script;
  }
}

TEST_F(RunnerCliTest, AnExitLineGivesTheExitStatus) {
  const struct {
    const char* script;
    const char* flags;
    int status;
  } cases[] = {
      {"exit 3\r\nRem never\r\n", "", 3},
      {"ldel missing.txt\r\nexit 0\r\n", "", 0},  // the script decides, not the failure
      {"ldel missing.txt\r\nexit 0\r\n", "--exit-status last", 0},
      {"lcd .\r\nldel missing.txt\r\nexit\r\n", "", 1},  // the flag's status
      {"exit 256\r\n", "", 2},
      {"Gett x\r\nexit 0\r\n", "--strict", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.script) + c.flags);
    Write("s.fcs", c.script);
    const Outcome o = Run(std::string(c.flags) + " s.fcs");
    EXPECT_EQ(o.status, c.status) << o.out << o.err;
    EXPECT_FALSE(Has(o.out, "Rem never"));
    EXPECT_TRUE(Has(o.out, ">> end   ")) << o.out;
  }
}

TEST_F(RunnerCliTest, TheRunnerPausesBetweenLinesOnlyWhenAskedTo) {
  ASSERT_EQ(Run("--set-option StepDelay=10000").status, 0);  // the desktop program's pause
  EXPECT_TRUE(Has(Run("--list-settings").out, "\nStepDelay=10000\n"));
  Write("p.fcs", "Rem a\r\nRem b\r\nRem c\r\n");
  const auto timed = [this](const std::string& args) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run(args).status, 0);
    return std::chrono::steady_clock::now() - start;
  };
  // The stored pause would take 30 s; the runner makes none unless asked to.
  EXPECT_LT(timed("p.fcs"), std::chrono::seconds(15));
  // Asked for, it comes after every line: three at least 400 ms each.
  EXPECT_GE(timed("--step-delay 400 p.fcs"), std::chrono::milliseconds(1200));
}

TEST_F(RunnerCliTest, AUtf8ScriptRunsAsUtf8) {
  Write("café €.txt", "x");
  Write("u.fcs", "set v=表\r\nldel \"café €.txt\"\r\nRem %v% %w% ü\r\nDir >リスト_é.txt\r\n");
  const Outcome o = Run("--set w=ß€ u.fcs");
  EXPECT_EQ(o.status, 1) << o.err;  // Dir fails without a server, after creating its file
  const std::string expected =
      "set v=表\nldel \"café €.txt\"\nlocal file delete complete.\nRem 表 ß€ ü\n"
      "Dir >リスト_é.txt\n";
  EXPECT_EQ(Body(o.out).rfind(expected, 0), 0u) << o.out;
  EXPECT_FALSE(fs::exists(dir_.path() / "café €.txt"));
  EXPECT_TRUE(fs::exists(dir_.path() / "リスト_é.txt"));
  // The desktop program shares the store: it holds the value in CP932.
  Write("show.fcs", "Rem [%v%]\r\n");
  EXPECT_EQ(Body(Run("--encoding cp932 show.fcs").out), "Rem [表]\n");
}

TEST_F(RunnerCliTest, TheEncodingFlagDecidesForAmbiguousBytes) {
  // ﾃｽ in CP932 is C3 BD, which is also valid UTF-8 (ý): auto takes it for UTF-8.
  Write("k.fcs", "Rem \xC3\xBD\r\n");
  EXPECT_EQ(Body(Run("k.fcs").out), "Rem ý\n");
  EXPECT_EQ(Body(Run("--encoding cp932 k.fcs").out), "Rem ﾃｽ\n");
  EXPECT_EQ(Body(Run("--encoding=utf-8 k.fcs").out), "Rem ý\n");
  // A CP932 run cannot take a value CP932 lacks: refused rather than turned into "?".
  const Outcome refused = Run("--set w=€ --encoding cp932 k.fcs");
  EXPECT_EQ(refused.status, 2);
  EXPECT_TRUE(Has(refused.err, "--set w: a character that CP932 cannot hold")) << refused.err;
  EXPECT_EQ(refused.out, "");
}

TEST_F(RunnerCliTest, SettingsAreListedAndSetFromTheCommandLine) {
  EXPECT_EQ(Run("--set-option timeout=60 --set-option Passive=on --set-option "
                "remoteencoding=AUTO --set-option Logsave=ログ.log --set-option parallel=4 "
                "--set-option SshAcceptNew=1 --set-option protocol=sftp --set-option "
                "SshKnownHosts=/srv/kh")
                .status,
            0);
  Write("v.fcs", "set host=x\r\nset user=y\r\n");
  ASSERT_EQ(Run("v.fcs").status, 0);
  const Outcome listed = Run("--list-settings");
  EXPECT_EQ(listed.status, 0);
  for (const char* line :
       {"[Options]\n", "\nTimeout=60\n", "\nPassive=1\n", "\nRemoteEncoding=auto\n",
        "\nLogsave=ログ.log\n", "\nch_Logsave=0\n", "\nParallel=4\n", "\nProtocol=sftp\n",
        "\nSshAcceptNew=1\n", "\nSshKnownHosts=/srv/kh\n", "\nSshKeyFile=\n",
        "\n[Variables]\nhost\nuser\n"}) {
    EXPECT_TRUE(Has(listed.out, line)) << line << "\n" << listed.out;
  }
  // A value out of the dialog's range is refused, and nothing is stored.
  const Outcome refused = Run("--set-option Timeout=201");
  EXPECT_EQ(refused.status, 2);
  EXPECT_TRUE(Has(refused.err, "Timeout: 201 is out of range (from 5 to 200)")) << refused.err;
  EXPECT_TRUE(Has(Run("--list-settings").out, "\nTimeout=60\n"));
}

TEST_F(RunnerCliTest, TheStoredLogFileIsWrittenUnlessLogGoesElsewhere) {
  ASSERT_EQ(Run("--set-option ch_Logsave=1 --set-option Logsave=saved.log").status, 0);
  Write("l.fcs", "Rem \x95\x5C\r\n");
  ASSERT_EQ(Run("l.fcs").status, 0);
  const std::string saved = Read("saved.log");  // as the desktop program writes it: CP932
  EXPECT_EQ(saved.rfind("<<l.fcs>> start ", 0), 0u) << saved;
  EXPECT_TRUE(Has(saved, "\r\nRem \x95\x5C\r\n<<l.fcs>> end   ")) << saved;
  fs::remove(dir_.path() / "saved.log");
  ASSERT_EQ(Run("--log extra.log l.fcs").status, 0);
  ASSERT_EQ(Run("--log=extra.log l.fcs").status, 0);
  const std::string extra = Read("extra.log");  // appended, UTF-8
  EXPECT_EQ(extra.rfind("<<l.fcs>> start ", 0), 0u) << extra;
  EXPECT_TRUE(Has(extra.substr(10), "\n<<l.fcs>> start ")) << extra;
  EXPECT_TRUE(Has(extra, "\nRem 表\n")) << extra;
  EXPECT_FALSE(fs::exists(dir_.path() / "saved.log"));
}

TEST_F(RunnerCliTest, TheTimeoutFlagOverridesTheStoredOne) {
  using namespace tarnex::testing;
  FakeFtpServer server({Session{Greeting("220 Hi\r\n"), Silence()}});
  ASSERT_EQ(Run("--set-option Timeout=200").status, 0);
  Write("t.fcs",
        "Open 127.0.0.1 NONE " + std::to_string(server.Port()) + "\r\nLogin joe secret\r\n");
  const auto start = std::chrono::steady_clock::now();
  const Outcome o = Run("--timeout 2 t.fcs");
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(o.status, 1) << o.out;
  EXPECT_LT(elapsed, std::chrono::seconds(30)) << o.out;  // the stored 200 s would not end yet
}

TEST_F(RunnerCliTest, TraceShowsTheDialogueButNeverThePassword) {
  using namespace tarnex::testing;
  FakeFtpServer server(
      {Session{Greeting("220 Hi\x1b[2J\x07\r\n"), Expect("USER joe", "331 Pass\r\n"),
               Expect("PASS s3cret", "230 In\r\n"), Expect("QUIT", "221 Bye\r\n"), Close()}});
  Write("t.fcs",
        "Open 127.0.0.1 NONE " + std::to_string(server.Port()) + "\r\nLogin joe s3cret\r\nBye\r\n");
  const Outcome o = Run("--trace t.fcs");
  EXPECT_EQ(o.status, 0) << o.out << o.err;
  // The server's control characters never reach the terminal as they are.
  EXPECT_TRUE(Has(o.err, "< 220 Hi\\x1b[2J\\x07\n> USER joe\n< 331 Pass\n> PASS ****\n< 230 In\n"))
      << o.err;
  EXPECT_TRUE(Has(o.err, "> QUIT\n< 221 Bye\n")) << o.err;
  EXPECT_FALSE(Has(o.err + o.out, "s3cret"));
  EXPECT_FALSE(Has(o.out, "> USER"));  // standard output stays the log
}

TEST_F(RunnerCliTest, NoFormOfASecretReachesTheLogTheTraceOrTheDebugLines) {
  using namespace tarnex::testing;
  FakeFtpServer server(
      {Session{Greeting("220 Hi\r\n"), Expect("USER joe", "331 Pass\r\n"),
               Expect("PASS s3cret one", "230 In\r\n"),             // quoted, without its quotes
               Expect("PASS s3cret-set", "230 Again\r\n"),          // from a secret variable
               Expect(" PASS s3cret-blank", "503 Already in\r\n"),  // the leading blank kept
               Expect("pass\ts3cret-tab", "230 Again\r\n"),
               Expect("PASS s3cret-run", "230 Again\r\n"),  // from --set
               Expect("QUIT", "221 Bye\r\n"), Close()}});
  Write("s.fcs",
        "Open 127.0.0.1 NONE " + std::to_string(server.Port()) +
            "\r\n"
            "Login joe \"s3cret one\"\r\n"
            "set ftppass=s3cret-set\r\n"
            "FTP PASS %ftppass%\r\n"
            "if NonError FTP  PASS s3cret-blank\r\n"
            "if Error FTP pass\ts3cret-tab\r\n"
            "FTP PASS %password%\r\n"
            "Rem %password% and %ftppass%\r\n"
            "FTP PASS s3cret-wire\x81\r\n"  // no UTF-8 form: never sent
            "Bye\r\n");
  const Outcome o =
      Run("--trace --debug --encoding cp932 --remote-encoding utf-8 "
          "--set password=s3cret-run s.fcs");
  EXPECT_EQ(o.status, 1) << o.out << o.err;  // the 503 and the name that could not be sent
  EXPECT_TRUE(server.Wait(std::chrono::seconds(5))) << server.Transcript();
  EXPECT_EQ(server.Mismatches(), "");
  EXPECT_FALSE(Has(o.out + o.err, "s3cret")) << o.out << o.err;
  for (const char* line :
       {"\nLogin joe ****\n", "\nset ftppass=****\n", "\nFTP PASS ****\n",
        "\nif NonError FTP  PASS ****\n", "\nif Error FTP pass\t****\n", "\nRem **** and ****\n",
        "\nNot sent, the name cannot be written as UTF-8: PASS ****\n", "\nD*"}) {
    EXPECT_TRUE(Has(o.out, line)) << line << "\n" << o.out;
  }
  EXPECT_TRUE(Has(o.err, "\n> PASS ****\n<")) << o.err;
  EXPECT_TRUE(Has(o.err, "\n>  PASS ****\n<")) << o.err;
  EXPECT_TRUE(Has(o.err, "\n> pass\\x09****\n<")) << o.err;
}

}  // namespace
