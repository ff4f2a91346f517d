// A real FTP server for integration tests: tests/support/ftpd.py run by Debian's
// /usr/bin/python3 with python3-pyftpdlib, serving a folder on 127.0.0.1 at a free port, with
// both PORT and PASV data connections. The process is stopped and reaped by the destructor.
//
//   TEST(Transfer, RoundTrip) {
//     TARNEX_SKIP_UNLESS_REAL_FTP_SERVER();
//     RealFtpServer server;               // a fresh temporary root
//     ... log in as server.User() / server.Password() at 127.0.0.1:server.Port() ...
//     ... files land in server.Root() ...
//   }
//
// Without pyftpdlib the tests skip with a clear message, unless the environment variable
// TARNEX_REQUIRE_REAL_SERVER=1 is set (as in CI), which turns the skip into a failure.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace tarnex::testing {

class TempDir;

namespace detail {
class ChildProcess;
}  // namespace detail

struct RealFtpServerOptions {
  std::filesystem::path root;  // empty: a fresh temporary folder, removed afterwards
  std::string user = "tarnex";
  std::string password = "tarnex-pass";
  bool anonymous = false;  // also let "anonymous" in, read-only
  std::string host = "127.0.0.1";  // or "::1"
  std::string tls;                 // "explicit" or "implicit" for FTPS; empty: plain FTP
  std::filesystem::path certificate;  // PEM with the key, for FTPS
  std::chrono::seconds start_timeout{20};
};

class RealFtpServer {
 public:
  static constexpr const char* kPython = "/usr/bin/python3";

  // Whether the server can run here (checked once per process).
  static bool Available();
  // Why not, for the skip message; empty when available.
  static std::string UnavailableReason();
  // Whether the environment demands the real server (TARNEX_REQUIRE_REAL_SERVER set, not "0").
  static bool Required();
  static std::filesystem::path Script();

  // Starts the server and waits until it listens; throws std::runtime_error when it cannot.
  explicit RealFtpServer(RealFtpServerOptions options = {});
  ~RealFtpServer();
  RealFtpServer(const RealFtpServer&) = delete;
  RealFtpServer& operator=(const RealFtpServer&) = delete;

  uint16_t Port() const { return port_; }
  const std::string& Host() const { return options_.host; }
  const std::filesystem::path& Root() const { return root_; }
  const std::string& User() const { return options_.user; }
  const std::string& Password() const { return options_.password; }

 private:
  RealFtpServerOptions options_;
  std::unique_ptr<TempDir> own_root_;
  std::filesystem::path root_;
  std::unique_ptr<detail::ChildProcess> process_;
  uint16_t port_ = 0;
};

// A server that demands TLS session reuse on its data connections: Debian's vsftpd, run by the
// test on a free 127.0.0.1 port with FTPS required, anonymous and read-only, serving a fresh
// folder. It needs root (as in CI) and the vsftpd package with its "ftp" user.
class TlsReuseServer {
 public:
  static constexpr const char* kProgram = "/usr/sbin/vsftpd";
  // Why it cannot run here; empty when it can.
  static std::string UnavailableReason();

  // `certificate` is a PEM file holding the certificate and its key.
  explicit TlsReuseServer(const std::filesystem::path& certificate);
  ~TlsReuseServer();
  TlsReuseServer(const TlsReuseServer&) = delete;
  TlsReuseServer& operator=(const TlsReuseServer&) = delete;

  uint16_t Port() const { return port_; }
  const std::filesystem::path& Root() const { return root_; }

 private:
  std::unique_ptr<TempDir> dir_;
  std::filesystem::path root_;
  std::unique_ptr<detail::ChildProcess> process_;
  uint16_t port_ = 0;
};

}  // namespace tarnex::testing

// Skips the current test when the real server cannot run, or fails it when it is required.
#define TARNEX_SKIP_UNLESS_REAL_FTP_SERVER()                                                \
  do {                                                                                      \
    if (!::tarnex::testing::RealFtpServer::Available()) {                                   \
      if (::tarnex::testing::RealFtpServer::Required()) {                                   \
        FAIL() << "TARNEX_REQUIRE_REAL_SERVER is set, but the real FTP server cannot run: " \
               << ::tarnex::testing::RealFtpServer::UnavailableReason();                    \
      }                                                                                     \
      GTEST_SKIP() << "real FTP server not available: "                                     \
                   << ::tarnex::testing::RealFtpServer::UnavailableReason();                \
    }                                                                                       \
  } while (false)
