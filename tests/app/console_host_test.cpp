// The console's log: lines logged one by one and lines logged in one go come out the same,
// as UTF-8, on standard output and on the copy; failures are marked where the engine reports
// them, for the journal and --quiet.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/console_host.h"

namespace tarnex::app {
namespace {

struct FileClose {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using TempFile = std::unique_ptr<std::FILE, FileClose>;

std::string Contents(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  char buffer[4096];
  while (size_t n = std::fread(buffer, 1, sizeof buffer, file)) text.append(buffer, n);
  return text;
}

TEST(ConsoleHost, LinesLoggedInOneGoComeOutAsLinesLoggedOneByOne) {
  const std::vector<std::string> lines = {"drwxr-xr-x 2 ftp ftp 4096 a", "", "\x82\xA0\x82\xA2.txt",
                                          std::string(300000, 'x'), "last"};
  std::string expected;
  for (const auto& line : lines)
    expected += line == lines[2] ? "\xE3\x81\x82\xE3\x81\x84.txt\n" : line + "\n";
  for (bool batch : {false, true}) {
    TempFile out(std::tmpfile()), messages(std::tmpfile()), copy(std::tmpfile());
    ConsoleHost host(out.get(), messages.get(), false);
    host.CopyLogTo(copy.get());
    host.KeepLines();
    if (batch) {
      host.AppendLogLines(lines);
    } else {
      for (const auto& line : lines) host.AppendLog(line);
    }
    const char* how = batch ? "in one go" : "one by one";
    EXPECT_EQ(Contents(out.get()), expected) << how;
    EXPECT_EQ(Contents(copy.get()), expected) << how;
    EXPECT_EQ(host.Lines(), lines) << how;  // kept as logged, in the run's encoding
    EXPECT_EQ(Contents(messages.get()), "") << how;
  }
}

// A run as the engine drives its host: the start line, two commands (the second fails after
// logging two lines), a listing in one go, and the end line.
void DriveARun(ConsoleHost& host) {
  host.AppendLog("<<s.fcs>> start");
  host.AppendScriptLine(0, "lcd .");
  host.AppendLog("local Cd complete");
  host.AfterLine(0);
  host.AppendScriptLine(1, "Get x.txt");
  host.AppendLogLines({"    Retrieve Send x.txt", "550 x.txt: No such file"});
  host.CommandFailed();
  host.AfterLine(1);
  host.AppendScriptLine(2, "Dir");
  host.AppendLogLines({"a", "b"});
  host.AfterLine(2);
  host.AppendLog("<<s.fcs>> end");
  host.ShowHeldLine(LineKind::Info);
}

TEST(ConsoleHost, FailuresAreMarkedWhereTheEngineReportsThem) {
  const struct {
    bool journal;
    bool quiet;
    const char* out;
  } cases[] = {
      {false, false,
       "<<s.fcs>> start\nlcd .\nlocal Cd complete\nGet x.txt\n    Retrieve Send x.txt\n"
       "550 x.txt: No such file\nDir\na\nb\n<<s.fcs>> end\n"},
      {true, false,
       "<6><<s.fcs>> start\n<6>lcd .\n<6>local Cd complete\n<6>Get x.txt\n"
       "<6>    Retrieve Send x.txt\n<3>550 x.txt: No such file\n<6>Dir\n<6>a\n<6>b\n"
       "<6><<s.fcs>> end\n"},
      {false, true, "Get x.txt\n550 x.txt: No such file\n<<s.fcs>> end\n"},
      {true, true, "<3>Get x.txt\n<3>550 x.txt: No such file\n<6><<s.fcs>> end\n"},
  };
  for (const auto& c : cases) {
    TempFile out(std::tmpfile()), messages(std::tmpfile()), copy(std::tmpfile());
    ConsoleHost host(out.get(), messages.get(), false);
    host.CopyLogTo(copy.get());
    host.SetLogOutput(LinePrefix{c.journal, false}, c.quiet);
    DriveARun(host);
    EXPECT_EQ(Contents(out.get()), c.out) << c.journal << c.quiet;
    // The copy is the whole log, whatever standard output shows.
    EXPECT_EQ(Contents(copy.get()),
              "<<s.fcs>> start\nlcd .\nlocal Cd complete\nGet x.txt\n    Retrieve Send x.txt\n"
              "550 x.txt: No such file\nDir\na\nb\n<<s.fcs>> end\n");
    const auto& failures = host.Failures().Failures();
    EXPECT_EQ(failures, (std::vector<CommandFailure>{{2, "Get x.txt", "550 x.txt: No such file"}}));
    EXPECT_EQ(host.Failures().LinesRun(), 3);
    EXPECT_EQ(host.Failures().CommandsRun(), 3);
  }
}

TEST(ConsoleHost, ACommandThatLogsNothingFailsWithItsScriptLine) {
  TempFile out(std::tmpfile()), messages(std::tmpfile());
  ConsoleHost host(out.get(), messages.get(), false);
  host.SetLogOutput(LinePrefix{true, false}, true);
  host.AppendScriptLine(4, "Rem quiet");
  host.AppendScriptLine(5, "ldel x");
  host.CommandFailed();
  EXPECT_EQ(Contents(out.get()), "<3>ldel x\n");
  EXPECT_EQ(host.Failures().Failures(), (std::vector<CommandFailure>{{6, "ldel x", ""}}));
  EXPECT_EQ(host.Failures().CommandsRun(), 1);  // Rem is no command
}

// The record the test suite holds against docs/log-lines.md tells script lines and listings
// from the lines the documentation must describe.
TEST(ConsoleHost, RecordsEachLineWithItsKind) {
  TempFile out(std::tmpfile()), messages(std::tmpfile()), record(std::tmpfile());
  ConsoleHost host(out.get(), messages.get(), false);
  host.RecordLinesTo(record.get());
  host.AppendScriptLine(0, "Dir");
  host.AppendLog("150 List success");
  host.AppendLogLines({"-rw-r--r-- 1 ftp ftp 3 \x82\xA0", ""});
  EXPECT_EQ(Contents(record.get()),
            "script\tDir\nlog\t150 List success\nlisting\t-rw-r--r-- 1 ftp ftp 3 \xE3\x81\x82\n"
            "listing\t\n");
  EXPECT_EQ(Contents(out.get()), "Dir\n150 List success\n-rw-r--r-- 1 ftp ftp 3 \xE3\x81\x82\n\n");
}

}  // namespace
}  // namespace tarnex::app
