// A scripted fake FTP server for tests. It listens on 127.0.0.1 at a port the system chooses
// and plays one Session per control connection, in the order the connections arrive:
//
//   FakeFtpServer server({Session{
//       Greeting("220 Ready\r\n"),
//       Expect("USER joe", "331 Password required\r\n"),
//       Expect("PASS secret", "230 Logged in\r\n"),
//       Expect("PORT *", "200 OK\r\n"),
//       Expect("RETR a.txt", "150 Opening (5 bytes)\r\n", Data::Send("hello")),
//       Reply("226 Done\r\n"),
//       Expect("QUIT", "221 Bye\r\n"), Close()}});
//   ... the client connects to 127.0.0.1:server.Port() ...
//   EXPECT_TRUE(server.Wait(std::chrono::seconds(5))) << server.Transcript();
//   EXPECT_EQ(server.Mismatches(), "");
//
// FTPS takes a certificate in the options and says where TLS starts:
//
//   FakeFtpServer server({Session{
//       Greeting("220 Ready\r\n"),
//       Expect("AUTH TLS", "234 Proceed\r\n"), StartTls(),
//       Expect("PROT P", "200 OK\r\n"), ProtectData(),
//       Expect("PASV", "227 Entering Passive Mode ({pasv})\r\n"),
//       Expect("RETR a.txt", "150 Opening\r\n", Data::Send("hello").WithoutCloseNotify()),
//       Reply("226 Done\r\n"), Close()}},
//       {.tls_certificate = MakeTestCertificate(dir).pem});
//
// A command that does not match ends its session with a mismatch and closes the connection, so
// the client fails fast instead of hanging. Every wait of the server is bounded, and the
// destructor stops all its threads within a few milliseconds, whatever the client does.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/fake_ftp_script.h"

namespace tarnex::testing {

namespace detail {
class Recorder;
class Fd;
class TlsServerContext;
}  // namespace detail

struct FakeFtpServerOptions {
  // How long the server waits for the next command, for the client to make or serve a data
  // connection, or for a stalled peer to move, before it reports a mismatch.
  std::chrono::milliseconds io_timeout{20000};
  // Listen on ::1 instead of 127.0.0.1 (passive data endpoints follow).
  bool ipv6 = false;
  // A PEM file with the certificate and its key (tests/support/test_certificate.h makes one);
  // without it the server cannot take TLS, and a script that asks for it is refused.
  std::filesystem::path tls_certificate{};
  // Every control connection starts with the TLS handshake, before the greeting.
  bool implicit_tls = false;
};

class FakeFtpServer {
 public:
  // Throws std::invalid_argument for a script that takes TLS without a certificate, and
  // std::runtime_error for a certificate that cannot be used.
  explicit FakeFtpServer(std::vector<Session> sessions, FakeFtpServerOptions options = {});
  ~FakeFtpServer();
  FakeFtpServer(const FakeFtpServer&) = delete;
  FakeFtpServer& operator=(const FakeFtpServer&) = delete;

  uint16_t Port() const { return port_; }

  // True once every session ran to its end; false at once after a mismatch, or after `timeout`.
  bool Wait(std::chrono::milliseconds timeout);

  // Every mismatch, one line each ("session 1 step 3: expected \"PASS secret\", received
  // \"PASS wrong\""); empty when the client did exactly what the script expects.
  std::string Mismatches() const;

  // Every command line received, in order, without its line end.
  std::vector<std::string> Commands() const;

  // The bytes the client sent on data connection `n` (numbered from 0 in the order the script
  // runs its data actions, over all sessions). Complete once that action has finished.
  std::string ReceivedData(int n) const;

  // How many data actions ran and how many control connections were accepted.
  int DataConnections() const;
  int Connections() const;

  // What happened, line by line ("S1< USER joe", "S1> 331 ...", "D0 sent 5 bytes", mismatches
  // marked "!!"), for failure messages. Under TLS it says how each handshake went ("S1 TLS
  // handshake: TLSv1.3, new session", "D0 TLS handshake: TLSv1.3, session resumed"), and how
  // each side ended: "D0 closed with close_notify", "D1 received 9 bytes, the client closed
  // without close_notify", "S1 the client sent close_notify".
  std::string Transcript() const;

 private:
  void AcceptLoop();

  const std::vector<Session> sessions_;
  const FakeFtpServerOptions options_;
  std::unique_ptr<detail::TlsServerContext> tls_;
  std::unique_ptr<detail::Recorder> recorder_;
  std::unique_ptr<detail::Fd> listener_;
  uint16_t port_ = 0;
  std::thread acceptor_;
};

}  // namespace tarnex::testing
