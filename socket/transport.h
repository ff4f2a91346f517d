// What carries a connection's bytes: the plain socket, or a TLS session over the same socket.
// The socket component reads and writes through this interface only, so nothing above the
// socket layer knows which one it talks through.
#pragma once

#include <poll.h>
#include <sys/types.h>

#include <cstddef>

namespace tarnex::net {

class Transport {
 public:
  virtual ~Transport() = default;

  // Up to `length` bytes: how many came, 0 once the peer has closed, or -1 with the thread's
  // last socket error set (10035 when nothing is there yet).
  virtual ssize_t Receive(char* data, size_t length) = 0;
  // Up to `length` bytes: how many went, or -1 with the last socket error set (10035 when
  // there is no room yet).
  virtual ssize_t Send(const char* data, size_t length) = 0;
  // What a wait must watch the socket for before Receive or Send can go on (a TLS session may
  // have to write to read, and the other way round).
  virtual short ReceiveWaitEvents() const { return POLLIN; }
  virtual short SendWaitEvents() const { return POLLOUT; }
};

// The socket itself: every call goes straight to the system.
class PlainTransport final : public Transport {
 public:
  explicit PlainTransport(int fd) : fd_(fd) {}
  ssize_t Receive(char* data, size_t length) override;
  ssize_t Send(const char* data, size_t length) override;

 private:
  int fd_;
};

}  // namespace tarnex::net
