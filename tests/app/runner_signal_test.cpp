// tarnex-run ended by a signal in the middle of a download: the half-written file goes with
// it, and the user's old file stays byte for byte.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "tests/support/fake_ftp_server.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using namespace tarnex::testing;
namespace fs = std::filesystem;

// Starts tarnex-run in `dir` with its output in files there.
pid_t Start(const fs::path& dir, const std::string& script) {
  const std::string registry = (dir / "registry.db").string();
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  if (::chdir(dir.c_str()) != 0) ::_exit(127);
  const int out = ::open("out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int in = ::open("/dev/null", O_RDONLY);
  ::dup2(in, 0);
  ::dup2(out, 1);
  ::dup2(out, 2);
  ::execl(TARNEX_RUN, TARNEX_RUN, "--registry", registry.c_str(), script.c_str(), nullptr);
  ::_exit(127);
}

bool HasTemporaryFile(const fs::path& dir) {
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().filename().string().rfind(".a.bin.tarnex-", 0) == 0) return true;
  }
  return false;
}

std::string Bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(RunnerSignals, AnEndingSignalTakesTheHalfWrittenDownloadWithIt) {
  for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(signal_number);
    TempDir dir;
    std::ofstream(dir / "a.bin", std::ios::binary) << "the user's own copy";
    FakeFtpServer server({Session{
        Greeting("220 Hi\r\n"), Expect("USER joe", "331 Pass\r\n"),
        Expect("PASS secret", "230 in\r\n"), Expect("PORT *", "200 ok\r\n"),
        Expect("RETR a.bin", "150 Opening\r\n",
               Data::Send(std::string(8 << 20, 'n')).Chunks(64 * 1024, 50ms).InBackground()),
        Silence()}});
    std::ofstream(dir / "get.fcs") << "Open 127.0.0.1 NONE " << server.Port()
                                   << "\r\nLogin joe secret\r\nGet a.bin a.bin\r\n";
    const pid_t pid = Start(dir.path(), "get.fcs");
    ASSERT_GT(pid, 0);
    // The download is under way once its temporary file exists.
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!HasTemporaryFile(dir.path()) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(HasTemporaryFile(dir.path())) << Bytes(dir / "out.txt");
    ::kill(pid, signal_number);
    int status = 0;
    pid_t done = 0;
    while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline + 10s) {
      std::this_thread::sleep_for(20ms);
    }
    if (done == 0) ::kill(pid, SIGKILL), ::waitpid(pid, &status, 0);
    ASSERT_EQ(done, pid) << "tarnex-run did not end";
    // Ended by the signal itself, so whoever started it sees which one.
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << status;
    EXPECT_FALSE(HasTemporaryFile(dir.path()));
    EXPECT_EQ(Bytes(dir / "a.bin"), "the user's own copy");
  }
}

}  // namespace
