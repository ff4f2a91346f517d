// The tarnex program run unattended as a process: it runs the script against a real FTP
// server, writes its log file and ends by itself.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "settings/options_store.h"
#include "tests/support/real_ftp_server.h"
#include "tests/ui/ui_test_support.h"

extern char** environ;

namespace tarnex::ui::testing {
namespace {

// Runs tarnex with `argument` in `folder`; the exit status, or -1 when it had to be killed
// after `limit`.
int RunProgram(const std::string& folder, const std::string& registry, const std::string& argument,
               std::chrono::seconds limit) {
  const std::string command = "cd '" + folder +
                              "' && exec env QT_QPA_PLATFORM=offscreen "
                              "TARNEX_REGISTRY='" +
                              registry + "' '" TARNEX_GUI "' '" + argument + "' >/dev/null 2>&1";
  pid_t pid = 0;
  const char* args[] = {"/bin/sh", "-c", command.c_str(), nullptr};
  if (::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(args), environ) != 0) {
    return -2;
  }
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -3;
}

class AutoRunTest : public ::testing::Test {
 protected:
  void StoreOptions(const settings::LiveSettings& options) {
    settings::Store(options, std::make_shared<platform::RegistryStore>(Registry()));
  }
  std::string Registry() { return dir / "registry.db"; }

  tarnex::testing::TempDir dir;
};

TEST_F(AutoRunTest, RunsTheScriptHiddenWritesTheLogAndEnds) {
  TARNEX_SKIP_UNLESS_REAL_FTP_SERVER();
  tarnex::testing::RealFtpServer server;
  settings::LiveSettings options;
  options.ch_runmode = true;
  options.cb_progress = true;
  options.ch_logsave = true;
  options.Ed_logsave = dir / "run.log";
  StoreOptions(options);
  WriteFile(dir / "up.txt", "payload\n");
  WriteFile(dir / "job.fcs", "Open 127.0.0.1 NONE " + std::to_string(server.Port()) + "\r\nLogin " +
                                 server.User() + " " + server.Password() +
                                 "\r\nBinary\r\nPut up.txt\r\nDir >list.txt\r\nBye\r\n");
  ASSERT_EQ(RunProgram(dir.path().string(), Registry(), "/auto" + (dir / "job.fcs"),
                       std::chrono::seconds(60)),
            0);
  EXPECT_EQ(ReadFile((server.Root() / "up.txt").string()), "payload\n");
  const std::string log = platform::Cp932ToUtf8(ReadFile(dir / "run.log"));
  EXPECT_EQ(log.rfind("<<" + (dir / "job.fcs") + ">> start ", 0), 0u) << log;
  EXPECT_NE(log.find("\r\nPut up.txt\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Upload success\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("\r\nBye\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find(">> end   "), std::string::npos) << log;
  EXPECT_NE(ReadFile(dir / "list.txt").find("up.txt"), std::string::npos);
}

TEST_F(AutoRunTest, AMissingScriptStillEndsTheProgram) {
  settings::LiveSettings options;
  options.ch_logsave = true;
  options.Ed_logsave = "empty-run.log";  // relative to the current directory
  StoreOptions(options);
  ASSERT_EQ(RunProgram(dir.path().string(), Registry(), "/AUTO" + (dir / "none.fcs"),
                       std::chrono::seconds(30)),
            0);
  const std::string log = ReadFile(dir / "empty-run.log");
  EXPECT_EQ(log.rfind("<<>> start ", 0), 0u) << log;
  EXPECT_NE(log.find("\r\n<<>> end   "), std::string::npos) << log;
}

}  // namespace
}  // namespace tarnex::ui::testing
