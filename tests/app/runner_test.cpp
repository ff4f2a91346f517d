// tarnex-run end to end: the real binary, a real script file, a private settings store.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "tests/support/process_run.h"
#include "tests/support/temp_dir.h"

namespace {

using Outcome = tarnex::testing::ProcessOutcome;

class RunnerTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& leaf, const std::string& bytes) {
    std::string path = dir_ / leaf;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  Outcome Run(const std::string& args) {
    return tarnex::testing::RunProcess(
        dir_.path().string(),
        "env TARNEX_REGISTRY='" + (dir_ / "registry.db") + "' '" TARNEX_RUN "' " + args);
  }

  // The log without the start and end lines.
  static std::string Body(const std::string& out) {
    size_t first = out.find('\n');
    size_t last = out.rfind('\n', out.size() - 2);
    if (first == std::string::npos || last == std::string::npos || last < first) return "";
    return out.substr(first + 1, last - first);
  }

  tarnex::testing::TempDir dir_;
};

TEST_F(RunnerTest, PrintsTheLogAsUtf8AndExitsZero) {
  // A Shift-JIS script: a variable holding a Japanese file name that ldel deletes.
  std::ofstream(dir_ / "表.txt") << "x";
  std::string script = Write("a.fcs",
                             "set f=\x95\x5C.txt\r\nldel %f%\nRem \x94\x5C\r"
                             "if NonError goto ok\r\nRem skipped\r\n:ok\r\n");
  Outcome o = Run("a.fcs");
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out.rfind("<<a.fcs>> start ", 0), 0u) << o.out;
  EXPECT_EQ(Body(o.out),
            "set f=表.txt\nldel 表.txt\nlocal file delete complete.\nRem 能\n"
            "if NonError goto ok\n");
  EXPECT_NE(o.out.find("\n<<a.fcs>> end   "), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "表.txt"));
}

TEST_F(RunnerTest, ExitsOneWhenACommandFailed) {
  Write("b.fcs", "ldel missing.txt\r\n");
  Outcome o = Run("b.fcs");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(Body(o.out), "ldel missing.txt\nlocal file delete fail\n");
}

TEST_F(RunnerTest, ExitsTwoWhenAnErrorEscapesOrTheScriptCannotBeRead) {
  Write("c.fcs", "set x=1\r\nRem %x%\r\n");
  ASSERT_EQ(Run("c.fcs").status, 0);
  Outcome missing = Run("no-such.fcs");
  EXPECT_EQ(missing.status, 2);
  EXPECT_TRUE(missing.out.empty());
  EXPECT_NE(missing.err.find("no-such.fcs"), std::string::npos) << missing.err;

  Outcome bad_store = Run("--registry /dev/null/x.db c.fcs");
  EXPECT_EQ(bad_store.status, 2);
  EXPECT_NE(bad_store.out.find("\n<<c.fcs>> end"),
            std::string::npos)
      << bad_store.out;
  // The error's line follows the end line, as the last line of the output.
  EXPECT_EQ(bad_store.out.substr(bad_store.out.rfind('\n', bad_store.out.size() - 2) + 1),
            "999 予期せぬエラー：'x' の設定に失敗しました\n");
}

TEST_F(RunnerTest, CommandLineErrorsAndHelp) {
  struct Case {
    const char* args;
    int status;
  } cases[] = {{"", 2}, {"--bogus x.fcs", 2}, {"a.fcs b.fcs", 2}, {"--registry", 2},
               {"--help", 0}, {"--version", 0}};
  for (const auto& c : cases) EXPECT_EQ(Run(c.args).status, c.status) << c.args;
  EXPECT_NE(Run("").err.find("usage: tarnex-run"), std::string::npos);
  EXPECT_NE(Run("--help").out.find("usage: tarnex-run"), std::string::npos);
}

TEST_F(RunnerTest, AScriptThatIsNoRegularFileIsRefused) {
  std::filesystem::create_directory(dir_.path() / "folder.fcs");
  for (const char* script : {"folder.fcs", "/dev/null"}) {
    Outcome o = Run(script);
    EXPECT_EQ(o.status, 2) << script;
    EXPECT_NE(o.err.find(std::string(script) + " is not a regular file"), std::string::npos)
        << o.err;
  }
}

TEST_F(RunnerTest, SetValuesAreForTheRunOnlyAndPasswordsNeverShow) {
  Write("login.fcs", "Login %who% %password%\r\nFTP PASS %password%\r\nRem [%who%]\r\n");
  Outcome first = Run("--set who=joe --set password=s3cret login.fcs");
  EXPECT_NE(first.out.find("\nLogin joe ****\n"), std::string::npos) << first.out;
  EXPECT_NE(first.out.find("\nFTP PASS ****\n"), std::string::npos) << first.out;
  EXPECT_NE(first.out.find("\nRem [joe]\n"), std::string::npos) << first.out;
  EXPECT_EQ(first.out.find("s3cret"), std::string::npos) << first.out;
  // Nothing reached the settings store: the next run knows neither value.
  Write("after.fcs", "Rem [%who%][%password%]\r\n");
  EXPECT_EQ(Body(Run("after.fcs").out), "Rem [][]\n");
}

// Only the test suite sets TARNEX_LOG_LINE_RECORD: each run then adds its log to a file of its
// own in that folder, every line with its kind.
TEST_F(RunnerTest, RecordsItsLogWhereTheTestSuiteAsks) {
  Write("r.fcs", "Rem x\r\nldel missing.txt\r\n");
  const std::filesystem::path record = dir_.path() / "record";
  std::filesystem::create_directory(record);
  const Outcome o = tarnex::testing::RunProcess(dir_.path().string(),
                                                "env TARNEX_REGISTRY='" + (dir_ / "registry.db") +
                                                    "' TARNEX_LOG_LINE_RECORD='" + record.string() +
                                                    "' '" TARNEX_RUN "' r.fcs");
  ASSERT_EQ(o.status, 1) << o.err;
  const std::string start = o.out.substr(0, o.out.find('\n') + 1);
  const std::string end = o.out.substr(o.out.rfind('\n', o.out.size() - 2) + 1);
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(record)) files.push_back(entry);
  ASSERT_EQ(files.size(), 1u);
  std::ifstream in(files[0]);
  const std::string recorded{std::istreambuf_iterator<char>(in), {}};
  EXPECT_EQ(recorded, "log\t" + start + "script\tRem x\nscript\tldel missing.txt\n" +
                          "log\tlocal file delete fail\nlog\t" + end);
}

TEST_F(RunnerTest, PauseWritesToStandardErrorWithoutWaitingWhenNotATerminal) {
  Write("p.fcs", "pause Insert disk\r\n");
  Outcome o = Run("p.fcs");
  EXPECT_EQ(o.status, 0);
  EXPECT_NE(o.err.find("Insert disk"), std::string::npos);
}

}  // namespace
