// tarnex-run end to end over SFTP: OpenSSH's server on loopback, reached through OpenSSH's
// client, with the same script commands and the same log lines as over FTP.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/process_run.h"
#include "tests/support/sshd_server.h"
#include "tests/support/temp_dir.h"

namespace {

using tarnex::testing::SshdServer;
using tarnex::testing::SshKeyKind;

class RunnerSftpTest : public ::testing::Test {
 protected:
  void Write(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  std::string Read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  // The script runs with the test's user key (unless a password is to be the way in); ssh
  // reads no configuration of this machine's.
  tarnex::testing::ProcessOutcome Run(const std::string& script, const std::string& flags = "",
                                      bool with_key = true) {
    Write(dir_ / "s.fcs", script);
    const std::string key =
        with_key ? "--ssh-key '" + sshd_.UserKey(SshKeyKind::kEd25519).string() + "' " : "";
    return tarnex::testing::RunProcess(
        dir_.path().string(),
        "'" TARNEX_RUN "' --ssh-config /dev/null " + key + flags + " --registry '" +
            (dir_ / "registry.db") + "' --set host=127.0.0.1 --set port=" +
            std::to_string(sshd_.Port()) + " --set remote='" + remote_.path().string() +
            "' s.fcs",
        120);
  }
  std::string Pinned() const { return "--ssh-hostkey " + sshd_.HostKeyFingerprint(); }
  static bool Has(const std::string& log, const std::string& line) {
    return log.find("\n" + line + "\n") != std::string::npos;
  }

  SshdServer sshd_;
  tarnex::testing::TempDir dir_;
  tarnex::testing::TempDir remote_;
};

TEST_F(RunnerSftpTest, EveryCommandWritesTheLinesItWritesOverFtp) {
  Write(dir_ / "my file.txt", "line one\r\nline two\r\n");
  const auto o = Run(
      "Open sftp://%host%:%port%\r\n"
      "Login root\r\n"
      "Cd %remote%\r\n"
      "Binary\r\n"
      "md \"dir one\"\r\n"
      "Cd \"dir one\"\r\n"
      "Put \"my file.txt\"\r\n"
      "Append \"my file.txt\" \"my file.txt\"\r\n"
      "Dir >list.txt\r\n"
      "Get \"my file.txt\" \"copy of it.txt\"\r\n"
      "rename \"my file.txt\" renamed.txt\r\n"
      "Ascii\r\n"
      "Del renamed.txt\r\n"
      "md a\r\n"
      "md a/b\r\n"
      "Cd a\\b\r\n"
      "Cd ..\\..\r\n"
      "rd a/b\r\n"
      "rd a\r\n"
      "Cd ..\r\n"
      "rd \"dir one\"\r\n"
      "if NonError Bye\r\n",
      Pinned());
  EXPECT_EQ(o.status, 0) << o.out << o.err;
  for (const char* line :
       {"230 Connect success", "200 DoCommand success", "257 MakeDir success",
        "250 ChangeDir success", "150 Upload success", "150 UploadAppend success",
        "150 List success", "250 Rename success", "250 Delete success", "250 RemoveDir success",
        "SFTP moves files as they are: Ascii has no effect", "221 Disconnected"}) {
    EXPECT_TRUE(Has(o.out, line)) << line << "\n" << o.out;
  }
  EXPECT_EQ(Read(dir_ / "copy of it.txt"), "line one\r\nline two\r\nline one\r\nline two\r\n");
  EXPECT_NE(Read(dir_ / "list.txt").find("my file.txt"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_empty(remote_.path()));
}

TEST_F(RunnerSftpTest, APasswordFromTheScriptOrNetrcReachesSshAndNoLog) {
  tarnex::testing::PasswordUser user;
  const std::string netrc = dir_ / "netrc";
  Write(netrc, std::string("machine 127.0.0.1 login ") + user.kName + " password " +
                   user.Password() + "\n");
  std::filesystem::permissions(netrc, std::filesystem::perms::owner_read |
                                          std::filesystem::perms::owner_write);
  const std::string login = std::string("Login ") + user.kName;
  const auto o = Run("Open sftp://%host%:%port%\r\n" + login + " %pw%\r\nBye\r\n"
                     "Open sftp://%host%:%port%\r\n" + login + "\r\nBye\r\n"
                     "Open sftp://%host%:%port%\r\n" + login + " wrong\r\n",
                     Pinned() + " --netrc-file " + netrc + " --set pw=" + user.Password(),
                     /*with_key=*/false);
  EXPECT_EQ(o.status, 1) << o.out << o.err;
  EXPECT_EQ(o.out.find(user.Password()), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("\nLogin refused: "), std::string::npos) << o.out;
  EXPECT_TRUE(Has(o.out, std::string("Login: ") + user.kName + " and the password from " + netrc))
      << o.out;
  size_t logins = 0;
  for (size_t at = 0; (at = o.out.find("\n230 Connect success\n", at)) != std::string::npos; ++at) {
    ++logins;
  }
  EXPECT_EQ(logins, 2u) << o.out;
}

TEST_F(RunnerSftpTest, HostKeysAreNeverTrustedBlindly) {
  const std::string known = dir_ / "known_hosts";
  Write(known, "");
  const std::string script = "Open sftp://%host%:%port%\r\nLogin root\r\nBye\r\n";
  const std::string server = "127.0.0.1:" + std::to_string(sshd_.Port());
  // Unknown: no login is tried, and the line names the key as ssh-keygen -l does.
  auto o = Run(script, "--ssh-known-hosts " + known);
  EXPECT_EQ(o.status, 1) << o.out;
  EXPECT_TRUE(Has(o.out, "Host key of " + server + " is not known: " +
                             sshd_.HostKeyFingerprint() + " (ED25519)"))
      << o.out;
  // A wrong pin fails as well; accept-new trusts a host never seen and remembers it.
  o = Run(script, "--ssh-hostkey SHA256:uNiVztksCsDhcc0u9e8BujQXVUpKZIDTMczCvj3tD2s");
  EXPECT_EQ(o.status, 1) << o.out;
  EXPECT_NE(o.out.find("is not the pinned key"), std::string::npos) << o.out;
  o = Run(script, "--ssh-accept-new --ssh-known-hosts " + known);
  EXPECT_EQ(o.status, 0) << o.out;
  EXPECT_NE(Read(known).find("ssh-ed25519"), std::string::npos);
  // A changed key is a loud failure, with accept-new too.
  sshd_.ChangeHostKey();
  o = Run(script, "--ssh-accept-new --ssh-known-hosts " + known);
  EXPECT_EQ(o.status, 1) << o.out;
  EXPECT_TRUE(Has(o.out, "HOST KEY OF " + server +
                             " HAS CHANGED: the connection was refused. Either the server's key "
                             "was replaced, or somebody is between you and the server. ssh says:"))
      << o.out;
}

TEST_F(RunnerSftpTest, WhatSftpHasNotFailsWithAClearLine) {
  const auto o = Run(
      "Open sftp://%host%:%port%\r\nPassive on\r\nTLS explicit\r\nLogin root\r\n"
      "FTP NOOP\r\nGet no-such-file\r\nBye\r\nOpen sftp://%host%:0\r\n",
      Pinned() + " --exit-status last");
  EXPECT_TRUE(Has(o.out, "Passive: SFTP moves files on its one SSH connection, so there is no "
                         "data connection to make passive"))
      << o.out;
  EXPECT_TRUE(Has(o.out, "TLS: SFTP is protected by SSH; TLS applies to FTP servers only"));
  EXPECT_TRUE(Has(o.out, "502 FTP commands cannot be sent over SFTP: NOOP")) << o.out;
  EXPECT_TRUE(Has(o.out, "550 No such file")) << o.out;
  EXPECT_TRUE(Has(o.out, "Open: sftp://127.0.0.1:0: the port must be a number from 1 to 65535"));
  EXPECT_EQ(o.status, 1);
}

TEST_F(RunnerSftpTest, MgetMputRegetAndReput) {
  const std::string big(300001, 'b');
  for (const char* name : {"one.csv", "two.csv", "skip.txt"}) Write(dir_ / name, name + big);
  std::filesystem::create_directories(dir_.path() / "back");
  const auto o = Run(
      "Open sftp://%host%:%port%\r\nLogin root\r\nCd %remote%\r\nBinary\r\n"
      "mput --parallel 2 *.csv\r\nlcd back\r\nmget *.csv\r\n"
      "reget one.csv\r\nreput one.csv\r\nBye\r\n",
      Pinned());
  EXPECT_EQ(o.status, 0) << o.out << o.err;
  EXPECT_EQ(Read(remote_.path() / "two.csv"), "two.csv" + big);
  EXPECT_FALSE(std::filesystem::exists(remote_.path() / "skip.txt"));
  EXPECT_EQ(Read(dir_.path() / "back" / "one.csv"), "one.csv" + big);
  EXPECT_TRUE(Has(o.out, "Already complete: one.csv")) << o.out;
}

TEST_F(RunnerSftpTest, NamesOfACp932ScriptReachTheServerAsUtf8) {
  Write(dir_ / "テスト.txt", "shift-jis");
  // "Put テスト.txt テスト2.txt" in CP932, as a script of the desktop program is written.
  const std::string name = "\x83\x65\x83\x58\x83\x67";
  const auto o = Run("Open sftp://%host%:%port%\r\nLogin root\r\nCd %remote%\r\nPut " + name +
                         ".txt " + name + "2.txt\r\nGet " + name + "2.txt back.txt\r\nBye\r\n",
                     Pinned() + " --encoding cp932");
  EXPECT_EQ(o.status, 0) << o.out << o.err;
  EXPECT_EQ(Read(remote_.path() / "テスト2.txt"), "shift-jis");
  EXPECT_EQ(Read(dir_.path() / "back.txt"), "shift-jis");
}

TEST_F(RunnerSftpTest, MirrorBothWaysInParallelKeepsTimesAndDeletes) {
  std::filesystem::create_directories(dir_.path() / "up" / "sub");
  for (const char* name : {"a.txt", "b.bin", "sub/c.txt"}) {
    Write(dir_.path() / "up" / name, std::string(100000, name[0]));
  }
  Write(remote_.path() / "stale.txt", "old");
  const std::string script =
      "Open sftp://%host%:%port%\r\nLogin root\r\nBinary\r\n"
      "mirror -R --delete --parallel 2 up %remote%\r\n"
      "mirror --delete %remote% down\r\n"
      "mirror -R up %remote%\r\nBye\r\n";
  const auto o = Run(script, Pinned());
  EXPECT_EQ(o.status, 0) << o.out << o.err;
  EXPECT_NE(o.out.find("mirror: 3 transferred, 300000 bytes, 0 up to date, 1 deleted, 0 failed"),
            std::string::npos)
      << o.out;
  EXPECT_NE(o.out.find("mirror: 3 transferred, 300000 bytes, 0 up to date, 0 failed"),
            std::string::npos);
  // Times were set on upload and taken on download: the last mirror finds nothing to do.
  EXPECT_NE(o.out.find("mirror: 0 transferred, 0 bytes, 3 up to date, 0 failed"),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(remote_.path() / "stale.txt"));
  EXPECT_EQ(Read(dir_.path() / "down" / "sub" / "c.txt"), std::string(100000, 's'));
}

}  // namespace
