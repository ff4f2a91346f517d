// The runner's output for people, logs and machines, end to end: the journal's priorities,
// --quiet, --timestamps, --summary-json, and its own messages in the user's language.
#include <gtest/gtest.h>

#include <locale.h>
#include <sys/stat.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>

#include "tests/support/fake_ftp_server.h"
#include "tests/support/process_run.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace tarnex::testing;
using namespace std::chrono_literals;

class RunnerOutputTest : public ::testing::Test {
 protected:
  void Write(const std::string& leaf, const std::string& bytes) {
    std::ofstream(dir_ / leaf, std::ios::binary | std::ios::trunc) << bytes;
  }
  std::string Read(const std::string& leaf) {
    std::ifstream in(dir_ / leaf, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  ProcessOutcome Run(const std::string& env, const std::string& args) {
    return RunProcess(dir_.path().string(), "env " + env + " '" TARNEX_RUN "' --registry '" +
                                                (dir_ / "registry.db") + "' " + args);
  }
  // "DEVICE:INODE" of a file of the test's folder, as systemd names the journal's stream.
  std::string StreamName(const std::string& leaf) {
    struct stat info {};
    if (::stat((dir_ / leaf).c_str(), &info) != 0) return "";
    return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
  }
  // Each line of `text` with the part `pattern` matches at its start taken away; "" when a
  // line does not match.
  static std::string WithoutPrefixes(const std::string& text, const std::string& pattern) {
    const std::regex prefix("^" + pattern);
    std::string rest;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      if (!std::regex_search(line, prefix)) return "";
      rest += std::regex_replace(line, prefix, "") + "\n";
    }
    return rest;
  }

  TempDir dir_;
};

constexpr char kIsoTime[] = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d )";

TEST_F(RunnerOutputTest, TheJournalQuietAndTimestampsShowWhatTheEngineReports) {
  Write("s.fcs", "Rem first\r\nldel missing.txt\r\nlcd .\r\nGett x\r\n");
  const std::string start = R"(<<s\.fcs>> start \S+ \S+)";
  const std::string end = R"(<<s\.fcs>> end   \S+ \S+)";
  const struct {
    const char* flags;
    bool journal;  // standard output is the journal's stream
    std::string out;
  } cases[] = {
      {"", false,
       start +
           "\nRem first\nldel missing.txt\nlocal file delete fail\nlcd \\.\n"
           "local Cd complete\nGett x\n" +
           end + "\n"},
      {"", true,
       "<6>" + start +
           "\n<6>Rem first\n<6>ldel missing.txt\n<3>local file delete fail\n"
           "<6>lcd \\.\n<6>local Cd complete\n<6>Gett x\n<6>" +
           end + "\n"},
      {"--quiet", false, "ldel missing.txt\nlocal file delete fail\n" + end + "\n"},
      {"--quiet", true, "<3>ldel missing.txt\n<3>local file delete fail\n<6>" + end + "\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.flags) + (c.journal ? " journal" : ""));
    Write("out.txt", "");
    const std::string env = "JOURNAL_STREAM=" + (c.journal ? StreamName("out.txt") : "1:1");
    const ProcessOutcome o = Run(env, std::string(c.flags) + " s.fcs >out.txt");
    EXPECT_EQ(o.status, 1);
    const std::string out = Read("out.txt");
    EXPECT_TRUE(std::regex_match(out, std::regex(c.out))) << out;
    // Standard error is another stream: no priority there.
    EXPECT_EQ(o.err, "tarnex-run: line 4: unknown command 'Gett'\n");
  }
  // Every line with its local time, on both streams; the log file gets the whole log with them.
  const ProcessOutcome o = Run("", "--timestamps --quiet --log=all.log s.fcs");
  EXPECT_EQ(WithoutPrefixes(o.out, kIsoTime),
            "ldel missing.txt\nlocal file delete fail\n" + o.out.substr(o.out.rfind("<<")));
  EXPECT_EQ(WithoutPrefixes(o.err, kIsoTime), "tarnex-run: line 4: unknown command 'Gett'\n");
  const std::string log = WithoutPrefixes(Read("all.log"), kIsoTime);
  EXPECT_NE(log.find("\nRem first\nldel missing.txt\nlocal file delete fail\nlcd .\n"),
            std::string::npos)
      << Read("all.log");
}

TEST_F(RunnerOutputTest, TheSummaryCountsWhatMovedAndWhatFailed) {
  FakeFtpServer server({Session{
      Greeting("220 Hi\r\n"), Expect("USER joe", "331 Pass\r\n"), Expect("PASS pw", "230 In\r\n"),
      Expect("TYPE I", "200 I\r\n"), Expect("PORT *", "200 ok\r\n"),
      Expect("STOR up.txt", "150 go\r\n", Data::Receive()), Reply("226 done\r\n"),
      Expect("SIZE down.txt", "213 5\r\n"), Expect("PORT *", "200 ok\r\n"),
      Expect("RETR down.txt", "150 go\r\n", Data::Send("12345")), Reply("226 done\r\n"),
      Expect("SIZE gone.txt", "550 gone.txt: No such file\r\n"), Expect("PORT *", "200 ok\r\n"),
      Expect("RETR gone.txt", "550 gone.txt: No such file\r\n"), Expect("QUIT", "221 Bye\r\n"),
      Close()}});
  Write("up.txt", "uploaded\n");
  Write("s.fcs", "Open 127.0.0.1 NONE " + std::to_string(server.Port()) +
                     "\r\nLogin joe pw\r\nBinary\r\nRem moving\r\nPut up.txt\r\nGet down.txt\r\n"
                     "Get gone.txt\r\nGett typo\r\nBye\r\n");
  const ProcessOutcome o = Run("", "--summary-json run.json s.fcs");
  EXPECT_EQ(o.status, 1) << o.out << o.err;
  EXPECT_TRUE(server.Wait(5s)) << server.Transcript();
  const auto json = nlohmann::json::parse(Read("run.json"));
  EXPECT_EQ(json["script"], "s.fcs");
  EXPECT_EQ(json["exit_status"], 1);
  EXPECT_EQ(json["lines_run"], 9);
  EXPECT_EQ(json["commands"], nlohmann::json({{"run", 7}, {"failed", 1}}));
  EXPECT_EQ(
      json["failures"],
      nlohmann::json::parse(
          R"([{"line": 7, "command": "Get gone.txt", "reply": "550 gone.txt: No such file"}])"));
  EXPECT_EQ(json["downloaded"], nlohmann::json({{"files", 1}, {"bytes", 5}}));
  EXPECT_EQ(json["uploaded"], nlohmann::json({{"files", 1}, {"bytes", 9}}));
  EXPECT_EQ(json["warnings"], nlohmann::json({"line 8: unknown command 'Gett'"}));
  EXPECT_TRUE(json["error"].is_null());
  const std::regex iso(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)");
  EXPECT_TRUE(std::regex_match(json["start"].get<std::string>(), iso)) << json["start"];
  EXPECT_LE(json["start"].get<std::string>(), json["end"].get<std::string>());
}

TEST_F(RunnerOutputTest, ASummaryIsWrittenAlsoWhenTheRunCannotStart) {
  const ProcessOutcome missing = Run("", "--summary-json run.json missing.fcs");
  EXPECT_EQ(missing.status, 2);
  const auto json = nlohmann::json::parse(Read("run.json"));
  EXPECT_EQ(json["exit_status"], 2);
  EXPECT_EQ(json["error"], "cannot open the script missing.fcs: no such file or folder");
  EXPECT_EQ(json["lines_run"], 0);
  // A summary that cannot be written fails the run: a machine waits for it.
  Write("s.fcs", "Rem fine\r\n");
  const ProcessOutcome unwritable = Run("", "--summary-json no/such/folder/run.json s.fcs");
  EXPECT_EQ(unwritable.status, 2);
  EXPECT_NE(unwritable.err.find("tarnex-run: cannot write no/such/folder/run.json: no such file"),
            std::string::npos)
      << unwritable.err;
}

TEST_F(RunnerOutputTest, TheRunnersOwnMessagesSpeakTheUsersLanguageAndTheLogDoesNot) {
  const char* english = "tarnex-run: no script given\n";
  const char* japanese = "tarnex-run: スクリプトが指定されていません\n";
  struct Case {
    std::string env;
    const char* first_line;
  };
  std::vector<Case> cases = {
      {"LANGUAGE= LC_ALL=C.UTF-8", english},
      {"LANGUAGE=ja LC_ALL=C.UTF-8", japanese},
      {"LANGUAGE=ja:en LANG=C.UTF-8 LC_MESSAGES= LC_ALL=", japanese},
      {"LANGUAGE=fr LC_ALL=C.UTF-8", english},  // no catalogue of that language
      {"LANGUAGE=ja LC_ALL=C", english},        // gettext ignores LANGUAGE under "C" itself
  };
  // Japanese by the locale alone only where that locale is installed.
  if (locale_t ja = ::newlocale(LC_MESSAGES_MASK, "ja_JP.UTF-8", nullptr)) {
    ::freelocale(ja);
    cases.push_back({"LANGUAGE= LC_ALL= LC_MESSAGES= LANG=ja_JP.UTF-8", japanese});
  }
  for (const auto& c : cases) {
    const ProcessOutcome o = Run(c.env, "");
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err.substr(0, o.err.find('\n') + 1), c.first_line) << c.env;
  }
  // The log stays the system's own, in any language; the warning follows the user's.
  Write("s.fcs", "ldel missing.txt\r\nGett x\r\n");
  const ProcessOutcome o = Run("LANGUAGE=ja LC_ALL=C.UTF-8", "s.fcs");
  EXPECT_NE(o.out.find("\nldel missing.txt\nlocal file delete fail\nGett x\n"), std::string::npos)
      << o.out;
  EXPECT_EQ(o.err, "tarnex-run: 2 行目: 不明なコマンド 'Gett'\n");
}

}  // namespace
