// Plays one session of a fake FTP server script on one accepted control connection.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/support/fake_ftp_channel.h"
#include "tests/support/fake_ftp_data.h"
#include "tests/support/fake_ftp_recorder.h"
#include "tests/support/fake_ftp_script.h"
#include "tests/support/test_socket.h"

namespace tarnex::testing::detail {

class SessionRunner {
 public:
  // With `tls` (else null) the session can take TLS: at once when `implicit_tls`, else at the
  // script's StartTls.
  SessionRunner(Recorder& recorder, int number, Fd control, const Session& script,
                std::chrono::milliseconds io_timeout, SSL_CTX* tls, bool implicit_tls);
  ~SessionRunner();
  SessionRunner(const SessionRunner&) = delete;
  SessionRunner& operator=(const SessionRunner&) = delete;

  // Runs the script to its end and then waits for the client to close. Never throws.
  void Run();

 private:
  enum class Flow { kNext, kOver };
  enum class Read { kLine, kClosed, kTimeout, kStopped, kTooLong };

  Flow RunStep(std::size_t index);
  Flow ExpectCommand(std::size_t index);
  Flow SendBytes(std::size_t index, std::string_view bytes);
  Flow DripBytes(std::size_t index);
  Flow AwaitGate(std::size_t index);
  // The TLS handshake at `where` in the script; a failure is a mismatch only when steps from
  // `next` on still expect the client.
  Flow Handshake(const std::string& where, std::size_t next);
  Flow StartTls(std::size_t index);
  bool RunData(std::size_t index, const DataAction& action);
  Read ReadLine(std::string& line, Clock::time_point deadline);
  void Received(const std::string& line);
  std::string ExpandPlaceholders(std::string text);
  void CloseInOrder(bool close_notify);
  void ResetConnection();
  // Reads lines until the client closes; with `unexpected`, the first line is a mismatch.
  void ReadUntilClientCloses(Clock::time_point deadline, bool unexpected);
  void EndData(bool force);
  void Finish();
  bool ExpectsMore(std::size_t from) const;
  std::string Where(std::size_t index) const;
  bool Stopped() const { return recorder_.stop.load(); }

  Recorder& recorder_;
  const int number_;
  Channel control_;
  const Session& script_;
  const std::chrono::milliseconds io_timeout_;
  SSL_CTX* const tls_;
  const bool implicit_tls_;
  bool protect_data_ = false;
  std::string input_;
  std::size_t input_pos_ = 0;  // start of the next unread line in input_
  std::size_t scanned_ = 0;    // bytes of input_ already searched for a line end
  bool finished_ = false;
  DataEndpoint endpoint_;
  std::vector<Fd> held_listeners_;  // passive endpoints of data connections that never come
  std::vector<Fd> closed_ports_;    // kept bound so that "{pasv_closed}" stays refused
  std::vector<std::thread> background_;
  std::atomic<bool> close_data_{false};
};

}  // namespace tarnex::testing::detail
