// One data connection of the fake FTP server: where it goes (the PORT address or the PASV
// listener) and the job that makes it and moves the bytes.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <string>

#include "tests/support/fake_ftp_channel.h"
#include "tests/support/fake_ftp_recorder.h"
#include "tests/support/fake_ftp_script.h"
#include "tests/support/test_socket.h"

namespace tarnex::testing::detail {

// Set by the last PORT command or "{pasv}" reply; one data connection uses it up.
struct DataEndpoint {
  enum class Mode { kNone, kActive, kPassive };
  Mode mode = Mode::kNone;
  sockaddr_storage active{};
  Fd passive_listener;
};

class DataJob {
 public:
  // With `tls` (else null) the connection starts with the server's side of a TLS handshake.
  DataJob(Recorder& recorder, int number, DataAction action, DataEndpoint endpoint,
          std::chrono::milliseconds io_timeout, SSL_CTX* tls, StopCheck stop);

  // Never throws: every failure ends up in the transcript or as a mismatch.
  void Run();

 private:
  bool Establish(Channel& connection);
  // Connects from the intruder's address first; false when that went wrong.
  bool Intrude(Clock::time_point deadline);
  // Sends the payload; false when the connection is already finished (failed or reset).
  bool SendPayload(Channel& connection);
  // Reads until the client closes; false when the connection is already finished.
  bool ReceiveUntilClientCloses(Channel& connection);
  void Reset(Channel& connection);
  void CloseInOrder(Channel& connection);
  void Note(const std::string& text);

  Recorder& recorder_;
  int number_;
  DataAction action_;
  DataEndpoint endpoint_;
  std::chrono::milliseconds io_timeout_;
  SSL_CTX* tls_;
  StopCheck stop_;
  std::string received_;
  std::size_t sent_ = 0;
};

}  // namespace tarnex::testing::detail
