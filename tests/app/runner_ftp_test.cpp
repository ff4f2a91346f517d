// tarnex-run end to end against a real FTP server on loopback.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/process_run.h"
#include "tests/support/real_ftp_server.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_certificate.h"

namespace {

using tarnex::testing::RealFtpServer;

class RunnerFtpTest : public ::testing::Test {
 protected:
  void Write(const std::string& leaf, const std::string& bytes) {
    std::ofstream(dir_ / leaf, std::ios::binary) << bytes;
  }
  std::string Read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  tarnex::testing::ProcessOutcome Run(const RealFtpServer& server, const std::string& script,
                                      const std::string& flags = "") {
    Write("s.fcs", script);
    return tarnex::testing::RunProcess(
        dir_.path().string(),
        "'" TARNEX_RUN "' " + flags + " --registry '" + (dir_ / "registry.db") +
            "' --set host=127.0.0.1" +
            " --set port=" + std::to_string(server.Port()) + " --set user=" + server.User() +
            " --set password=" + server.Password() + " --set name=copy s.fcs",
        120);
  }
  static bool Has(const std::string& log, const std::string& line) {
    return log.find("\n" + line + "\n") != std::string::npos;
  }

  tarnex::testing::TempDir dir_;
};

TEST_F(RunnerFtpTest, EveryFtpCommandAgainstARealServer) {
  TARNEX_SKIP_UNLESS_REAL_FTP_SERVER();
  RealFtpServer server;
  Write("my file.txt", "line one\r\nline two\r\n");
  auto o = Run(server,
               "Open %host% NONE %port%\r\n"
               "Login %user% %password%\r\n"
               "Binary\r\n"
               "md \"dir one\"\r\n"
               "Cd \"dir one\"\r\n"
               "Put \"my file.txt\"\r\n"
               "Append \"my file.txt\" \"my file.txt\"\r\n"
               "Dir >list.txt\r\n"
               "Get \"my file.txt\" \"%name% of it.txt\"\r\n"
               "rename \"my file.txt\" renamed.txt\r\n"
               "Ascii\r\n"
               "FTP NOOP\r\n"
               "Del renamed.txt\r\n"
               "md a\r\n"
               "md a/b\r\n"
               "Cd a\\b\r\n"
               "Cd ..\\..\r\n"
               "rd a/b\r\n"
               "rd a\r\n"
               "Cd ..\r\n"
               "rd \"dir one\"\r\n"
               "Dialup\r\n"
               "if NonError Bye\r\n");
  EXPECT_EQ(o.status, 0) << o.out << o.err;
  for (const char* line :
       {"230 Connect success", "200 DoCommand success", "257 MakeDir success",
        "250 ChangeDir success", "250 Rename success", "250 Delete success",
        "250 RemoveDir success", "221 Disconnected"}) {
    EXPECT_TRUE(Has(o.out, line)) << line << "\n" << o.out;
  }
  // The server answers a data command 125 or 150 as its data connection happens to be made
  // already or not (PORT goes out with the command).
  for (const std::string success : {"Upload success", "UploadAppend success", "List success"}) {
    EXPECT_TRUE(Has(o.out, "125 " + success) || Has(o.out, "150 " + success))
        << success << "\n" << o.out;
  }
  // The listing file holds the listing and one empty line after it.
  std::string listing = Read(dir_.path() / "list.txt");
  EXPECT_NE(listing.find("my file.txt\r\n\r\n"), std::string::npos) << listing;
  EXPECT_EQ(Read(dir_.path() / "copy of it.txt"),
            "line one\r\nline two\r\nline one\r\nline two\r\n");
  EXPECT_TRUE(std::filesystem::is_empty(server.Root()));
  EXPECT_NE(o.err.find("現在未実装"), std::string::npos) << o.err;  // Dialup says so on stderr
}

TEST_F(RunnerFtpTest, AFailedCommandTakesTheErrorBranchAndExitsOne) {
  TARNEX_SKIP_UNLESS_REAL_FTP_SERVER();
  RealFtpServer server;
  auto o = Run(server,
               "Open %host% NONE %port%\r\n"
               "Login %user% wrong-password\r\n"
               "if Error goto retry\r\n"
               "Rem skipped\r\n"
               ":retry\r\n"
               "Login %user% %password%\r\n"
               "Get missing.txt here.txt\r\n"
               "if NonError Rem not reached\r\n"
               "Bye\r\n");
  EXPECT_EQ(o.status, 1) << o.out << o.err;
  EXPECT_TRUE(Has(o.out, "530 Authentication failed.")) << o.out;
  EXPECT_FALSE(Has(o.out, "Rem skipped"));
  EXPECT_TRUE(Has(o.out, "230 Connect success"));
  EXPECT_NE(o.out.find("\n550 "), std::string::npos) << o.out;
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "here.txt"));
}

TEST_F(RunnerFtpTest, AUtf8ScriptKeepsJapaneseAndAccentedNamesWhole) {
  TARNEX_SKIP_UNLESS_REAL_FTP_SERVER();
  RealFtpServer server;
  Write("données 表ソ.txt", "contenu\n");
  auto o = Run(server,
               "Open %host% NONE %port%\r\n"
               "Login %user% %password%\r\n"
               "Binary\r\n"
               "Put \"données 表ソ.txt\" \"été 能.txt\"\r\n"
               "Get \"été 能.txt\" \"コピー ü €.txt\"\r\n"
               "Dir >liste_é.txt\r\n"
               "Bye\r\n",
               "--passive --trace --remote-encoding utf-8");
  EXPECT_EQ(o.status, 0) << o.out << o.err;
  EXPECT_TRUE(Has(o.out, "Get \"été 能.txt\" \"コピー ü €.txt\"")) << o.out;
  EXPECT_EQ(Read(server.Root() / "été 能.txt"), "contenu\n");
  EXPECT_EQ(Read(dir_.path() / "コピー ü €.txt"), "contenu\n");
  EXPECT_NE(Read(dir_.path() / "liste_é.txt").find("été 能.txt"), std::string::npos);
  // --passive: the data connections were the client's to open.
  EXPECT_NE(o.err.find("PSV\n"), std::string::npos) << o.err;  // EPSV or PASV
  EXPECT_EQ(o.err.find("> PORT"), std::string::npos) << o.err;
}

TEST_F(RunnerFtpTest, TlsFromTheCommandLineWithAPinnedOrAWrongCertificate) {
  TARNEX_SKIP_UNLESS_REAL_FTP_SERVER();
  tarnex::testing::TempDir certificates;
  const auto certificate = tarnex::testing::MakeTestCertificate(certificates.path());
  tarnex::testing::RealFtpServerOptions options;
  options.tls = "explicit";
  options.certificate = certificate.pem;
  RealFtpServer server(options);
  Write("tls.fcs", "Open 127.0.0.1 NONE " + std::to_string(server.Port()) + "\r\nLogin " +
                       server.User() + " " + server.Password() + "\r\nDir\r\nBye\r\n");
  struct Case {
    std::string fingerprint;
    int status;
    const char* wanted;
  } cases[] = {{certificate.fingerprint, 0, "\n230 Connect success\n"},
               {std::string(64, 'b'), 1, "TLS certificate rejected: it is not the pinned one"}};
  for (const auto& c : cases) {
    const auto o = tarnex::testing::RunProcess(
        dir_.path().string(), "'" TARNEX_RUN "' --registry '" + (dir_ / "registry.db") +
                                  "' --tls explicit --tls-fingerprint " + c.fingerprint + " tls.fcs",
        60);
    EXPECT_EQ(o.status, c.status) << o.out << o.err;
    EXPECT_NE(o.out.find(c.wanted), std::string::npos) << o.out;
  }
}

}  // namespace
