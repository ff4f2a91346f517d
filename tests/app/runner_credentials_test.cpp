// Passwords that never pass through the command line: the netrc file, --set-from-file,
// --set-from-env, and the systemd example's credential; end to end, the real binary against
// the scripted FTP server.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "tests/support/fake_ftp_server.h"
#include "tests/support/process_run.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace tarnex::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::vector<Step> LoginAndBye(const std::string& user, const std::string& password) {
  return {Greeting("220 Hi\r\n"), Expect("USER " + user, "331 Pass\r\n"),
          Expect("PASS " + password, "230 In\r\n"), Expect("QUIT", "221 Bye\r\n"), Close()};
}

class RunnerCredentialsTest : public ::testing::Test {
 protected:
  void Write(const std::string& path, const std::string& bytes, mode_t mode = 0600) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    ::chmod(path.c_str(), mode);
  }
  // `env` goes before the program: "HOME=... NAME=value".
  ProcessOutcome Run(const std::string& env, const std::string& args) {
    return RunProcess(dir_.path().string(), "env HOME='" + home_ + "' " + env +
                                                " '" TARNEX_RUN "' --registry '" +
                                                (dir_ / "registry.db") + "' " + args);
  }
  std::string OpenLine(const FakeFtpServer& server) {
    return "Open 127.0.0.1 NONE " + std::to_string(server.Port()) + "\r\n";
  }
  static bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }

  TempDir dir_;
  std::string home_ = dir_ / "home";
};

TEST_F(RunnerCredentialsTest, LoginTakesTheNetrcEntryOfTheHostUnlessOthersCanReadTheFile) {
  const std::string netrc =
      "# ours\nmachine 127.0.0.1\n  login joe\n  password \"s3 cret\"\ndefault login anonymous\n";
  const std::string home_netrc = home_ + "/.netrc";
  const struct {
    const char* login;
    mode_t mode;
    const char* flags;
    bool connects;
    int status;
    std::string out;  // a line of the log
    std::string err;  // part of standard error
  } cases[] = {
      {"Login", 0600, "", true, 0, "\nLogin: joe and the password from " + home_netrc + "\n", ""},
      {"Login joe", 0400, "", true, 0, "\n230 Connect success\n", ""},
      {"Login joe", 0600, "--netrc-file=other.netrc", true, 0,
       "\nLogin: joe and the password from other.netrc\n", ""},
      {"Login joe", 0644, "", false, 1,
       "\nLogin: no password: " + home_netrc +
           " is not used: other users may read or change "
           "it (mode 0644; chmod 600 " +
           home_netrc + " makes it private)\n",
       "tarnex-run: " + home_netrc + " is not used: other users may read or change it"},
      {"Login joe", 0640, "--netrc-file other.netrc", false, 2, "",
       "tarnex-run: other.netrc is not used: other users may read or change it (mode 0640"},
      {"Login joe", 0600, "--netrc-file missing.netrc", false, 2, "",
       "tarnex-run: cannot read missing.netrc: no such file or folder"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.login) + " " + c.flags);
    Write(home_netrc, netrc, c.mode);
    Write(dir_ / "other.netrc", netrc, c.mode);
    std::vector<Session> sessions;
    if (c.connects) sessions.push_back(Session(LoginAndBye("joe", "s3 cret")));
    FakeFtpServer server(sessions);
    Write(dir_ / "s.fcs", OpenLine(server) + c.login + "\r\nif NonError Bye\r\n");
    const ProcessOutcome o = Run("", std::string(c.flags) + " s.fcs");
    EXPECT_EQ(o.status, c.status) << o.out << o.err;
    EXPECT_TRUE(Has(o.out, c.out)) << o.out;
    EXPECT_TRUE(Has(o.err, c.err)) << o.err;
    EXPECT_FALSE(Has(o.out + o.err, "s3 cret"));
    if (c.connects) {
      EXPECT_TRUE(server.Wait(5s)) << server.Transcript();
    } else {
      EXPECT_EQ(server.Connections(), 0);
    }
    EXPECT_EQ(server.Mismatches(), "");
  }
}

TEST_F(RunnerCredentialsTest, VariablesFromFilesAndTheEnvironmentStayOffTheCommandLine) {
  Write(dir_ / "pw-crlf", "from file\r\nsecond line\r\n");
  Write(dir_ / "pw-bare", "bare");
  const std::string warning = "tarnex-run: --set password: the value can be seen by other users";
  const struct {
    const char* args;
    const char* password;  // nullptr: the run does not start
    const char* err;       // part of standard error ("" for none at all)
  } cases[] = {
      {"--set-from-file password=pw-crlf", "from file", ""},
      {"--set password=x --set-from-file=password=pw-bare", "bare", warning.c_str()},
      {"--set-from-env password=TARNEX_TEST_PW", "from env", ""},
      {"--set-from-env password=TARNEX_TEST_NONE", nullptr,
       "tarnex-run: --set-from-env password: the environment has no variable TARNEX_TEST_NONE"},
      {"--set-from-file password=missing", nullptr,
       "tarnex-run: --set-from-file password: cannot read missing: no such file or folder"},
      {"--set-from-file password", nullptr, "tarnex-run: --set-from-file needs NAME=FILE"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    std::vector<Session> sessions;
    if (c.password != nullptr) sessions.push_back(Session(LoginAndBye("joe", c.password)));
    FakeFtpServer server(sessions);
    Write(dir_ / "s.fcs", OpenLine(server) + "Login joe \"%password%\"\r\nBye\r\n");
    const ProcessOutcome o = Run("TARNEX_TEST_PW='from env'", std::string(c.args) + " s.fcs");
    EXPECT_EQ(o.status, c.password != nullptr ? 0 : 2) << o.out << o.err;
    EXPECT_TRUE(*c.err == '\0' ? o.err.empty() : Has(o.err, c.err)) << o.err;
    if (c.password != nullptr) {
      EXPECT_TRUE(server.Wait(5s)) << server.Transcript();
      EXPECT_FALSE(Has(o.out, c.password)) << o.out;
    }
    EXPECT_EQ(server.Mismatches(), "");
  }
}

// The example unit's command line, run as systemd would run it: the credential in a folder
// of its own, named by $CREDENTIALS_DIRECTORY and %d.
TEST_F(RunnerCredentialsTest, TheSystemdExampleRunsWithItsCredential) {
  std::ifstream unit(std::string(TARNEX_SOURCE_DIR) + "/examples/systemd/tarnex-nightly.service");
  std::string exec_start;
  for (std::string line; std::getline(unit, line);) {
    if (line.rfind("ExecStart=", 0) == 0) exec_start = line.substr(10);
  }
  ASSERT_EQ(exec_start.rfind("/usr/bin/tarnex-run ", 0), 0u) << exec_start;
  const std::string credentials = dir_ / "credentials";
  Write(credentials + "/ftp-password", "n1ght-pw\n", 0400);
  exec_start = std::regex_replace(exec_start, std::regex("%d"), credentials);
  exec_start = std::regex_replace(exec_start, std::regex("%h"), home_);
  exec_start.replace(0, std::string("/usr/bin/tarnex-run").size(), "'" TARNEX_RUN "'");

  FakeFtpServer server({Session{
      Greeting("220 Hi\r\n"), Expect("USER night", "331 Pass\r\n"),
      Expect("PASS n1ght-pw", "230 In\r\n"), Expect("TYPE I", "200 I\r\n"),
      Expect("PORT *", "200 ok\r\n"), Expect("STOR report.csv", "150 go\r\n", Data::Receive()),
      Reply("226 done\r\n"), Expect("SIZE orders.csv", "213 6\r\n"), Expect("PORT *", "200 ok\r\n"),
      Expect("RETR orders.csv", "150 go (6 bytes)\r\n", Data::Send("order\n")),
      Reply("226 done\r\n"), Expect("QUIT", "221 Bye\r\n"), Close()}});
  const std::string work = home_ + "/ftp";  // WorkingDirectory=%h/ftp
  fs::create_directories(work);
  fs::copy_file(std::string(TARNEX_SOURCE_DIR) + "/examples/nightly.fcs", work + "/nightly.fcs");
  Write(work + "/report.csv", "a,b\n");
  Write(work + "/store.fcs", "set host=127.0.0.1\r\nset port=" + std::to_string(server.Port()) +
                                 "\r\nset user=night\r\n");
  const std::string registry = "env TARNEX_REGISTRY='" + (dir_ / "registry.db") + "' ";
  ASSERT_EQ(RunProcess(work, registry + "'" TARNEX_RUN "' store.fcs").status, 0);

  const ProcessOutcome o =
      RunProcess(work, registry + "CREDENTIALS_DIRECTORY='" + credentials + "' " + exec_start);
  EXPECT_EQ(o.status, 0) << exec_start << "\n" << o.out << o.err;
  EXPECT_TRUE(server.Wait(5s)) << server.Transcript();
  EXPECT_EQ(server.Mismatches(), "");
  EXPECT_EQ(server.ReceivedData(0), "a,b\n");
  std::ifstream orders(work + "/orders.csv");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(orders), {}), "order\n");
  EXPECT_EQ(o.err, "");
}

}  // namespace
