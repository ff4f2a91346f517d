// One connection of the fake FTP server, control or data, in the clear or under TLS after the
// server's side of a handshake. Every wait is bounded by a deadline and a stop check, as in
// test_socket.h; a TLS read is always tried before waiting on the socket, because records
// OpenSSL has already read are invisible to poll.
#pragma once

#include <openssl/ssl.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "tests/support/test_socket.h"

namespace tarnex::testing::detail {

struct SslContextFree {
  void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};

// The server's certificate and key, and the session cache and ticket keys through which a data
// connection resumes the session of its control connection. Shared by every connection.
class TlsServerContext {
 public:
  // Throws std::runtime_error when the PEM file has no usable certificate and key.
  explicit TlsServerContext(const std::filesystem::path& pem);
  SSL_CTX* Get() const { return context_.get(); }

 private:
  std::unique_ptr<SSL_CTX, SslContextFree> context_;
};

// What one read brought.
struct Input {
  enum class Kind {
    kData,         // `size` bytes
    kEnd,          // a FIN; under TLS one without close_notify before it
    kCloseNotify,  // TLS only: the peer's close_notify
    kTimeout,
    kStopped,
    kError,  // `error` says what (a reset, a broken TLS record)
  };
  Kind kind = Kind::kError;
  std::size_t size = 0;
  std::string error;
};

class Channel {
 public:
  Channel() = default;
  explicit Channel(Fd fd) : fd_(std::move(fd)) {}

  int Get() const { return fd_.Get(); }
  bool Valid() const { return fd_.Valid(); }
  bool Secure() const { return tls_ != nullptr; }

  // The server's side of a TLS handshake; from then on every byte goes through TLS.
  IoResult AcceptTls(SSL_CTX* context, Clock::time_point deadline, const StopCheck& stop);
  // "TLSv1.3, session resumed" or "TLSv1.2, new session", for the transcript.
  std::string TlsSummary() const;

  // Sends all bytes. `idle` bounds how long the peer may leave its window closed.
  IoResult Send(std::string_view bytes, std::chrono::milliseconds idle, const StopCheck& stop);
  // Reads what is there, waiting for something until the deadline.
  Input Receive(char* buffer, std::size_t size, Clock::time_point deadline, const StopCheck& stop);
  // Appends what has arrived already, without waiting.
  void ReceivePending(std::string& out);

  // Sends close_notify (bounded by `idle`); false when there is no TLS, or no sound session
  // left to send it on.
  bool SendCloseNotify(std::chrono::milliseconds idle, const StopCheck& stop);
  // A FIN after everything sent so far; reading goes on.
  void ShutdownWrite();
  // A reset that does not overtake the bytes already sent.
  void Reset(std::chrono::milliseconds drain_limit, const StopCheck& stop);
  // Closes the socket without any TLS alert.
  void Close();

 private:
  // What to wait for (POLLIN or POLLOUT) before the call is tried again; with none, the call
  // failed for good, and `end` and `error` say how.
  struct Stall {
    short wait;
    Input::Kind end;
    std::string error;
  };
  // What a failed TLS call with `result` and `error` (its errno) needs; a fatal failure marks
  // the session broken.
  Stall Stalled(int result, int error);

  // Kept apart from the channel, so that OpenSSL's callback finds it wherever the channel moves.
  struct Tls {
    std::unique_ptr<SSL, SslFree> ssl;
    // After a fatal TLS error the session may send nothing more, close_notify included.
    bool broken = false;
    bool close_notify_read = false;  // the peer's close_notify has come
  };

  Fd fd_;
  // Declared after the socket, so that it goes first.
  std::unique_ptr<Tls> tls_;
};

}  // namespace tarnex::testing::detail
