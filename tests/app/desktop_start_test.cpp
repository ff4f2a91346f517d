// The desktop program's command line, and help without a display.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/process_run.h"
#include "tests/support/temp_dir.h"
#include "ui/tarnex_forms.h"

namespace tarnex::ui {
namespace {

TEST(ParseStartArguments, OpensRunsOrRefuses) {
  using Kind = StartRequest::Kind;
  const struct {
    std::vector<std::string> args;
    StartRequest expected;
  } cases[] = {
      {{}, {Kind::NewScript, "", ""}},
      {{"job.fcs"}, {Kind::Open, "job.fcs", ""}},
      {{"/AUTO/srv/job.fcs", "ignored"}, {Kind::AutoRun, "/srv/job.fcs", ""}},
      {{"/automatic.fcs"}, {Kind::AutoRun, "matic.fcs", ""}},
      {{"/auto", "job.fcs"}, {Kind::AutoRun, "", ""}},  // the path must follow directly
      {{"--auto", "job.fcs"}, {Kind::AutoRun, "job.fcs", ""}},
      {{"--auto=my job.fcs"}, {Kind::AutoRun, "my job.fcs", ""}},
      {{"--", "--odd.fcs"}, {Kind::Open, "--odd.fcs", ""}},
      {{"job.fcs", "--help"}, {Kind::Help, "", ""}},
      {{"-V"}, {Kind::Version, "", ""}},
      {{"--", "--help"}, {Kind::Open, "--help", ""}},
      {{"--auto"}, {Kind::Usage, "", "--auto needs a script"}},
      {{"a.fcs", "b.fcs"}, {Kind::Usage, "", "only one script can be given"}},
      {{"--bogus"}, {Kind::Usage, "", "unknown option --bogus"}},
  };
  for (const auto& c : cases) {
    const StartRequest got = ParseStartArguments(c.args);
    EXPECT_EQ(got, c.expected) << (c.args.empty() ? "" : c.args.front()) << ": " << got.problem;
  }
}

TEST(DesktopProgram, HelpAndVersionNeedNoDisplay) {
  testing::TempDir dir;
  const std::string bare = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" TARNEX_GUI "' ";
  const auto help = tarnex::testing::RunProcess(dir.path().string(), bare + "--help");
  EXPECT_EQ(help.status, 0) << help.err;
  EXPECT_EQ(help.out.rfind("usage: tarnex", 0), 0u) << help.out;
  const auto version = tarnex::testing::RunProcess(dir.path().string(), bare + "--version");
  EXPECT_EQ(version.status, 0) << version.err;
  EXPECT_EQ(version.out, "tarnex " TARNEX_VERSION "\n");  // the packages' version
}

}  // namespace
}  // namespace tarnex::ui
