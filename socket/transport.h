// What carries a connection's bytes: the plain socket, or a TLS session over the same socket.
// The socket component reads and writes through this interface only, so nothing above the
// socket layer knows which one it talks through, and nothing in it asks.
#pragma once

#include <poll.h>

#include <cstddef>

#include "socket/socket_api.h"

namespace tarnex::net {

class Transport {
 public:
  virtual ~Transport() = default;

  // One step of the handshake that makes the transport ready: true once it is done (a plain
  // connection has none). While it goes on, WaitEvents says what to wait for; a failure raises
  // ESockError with its reason.
  virtual bool Handshake() { return true; }
  // Up to `length` bytes; the end is the peer's orderly end.
  virtual IoResult Receive(char* data, size_t length) = 0;
  // Up to `length` bytes.
  virtual IoResult Send(const char* data, size_t length) = 0;
  // Bytes that arrived and are held inside the transport: a wait on the socket would not see
  // them.
  virtual bool HasBuffered() const { return false; }
  // Tells the peer that nothing more comes, without waiting for its answer; false when the
  // transport has no end of its own to tell (the connection's close says it all).
  virtual bool Shutdown() { return false; }
  // Whether the kernel may move the connection's bytes itself (splice, sendfile): only when
  // they cross the socket as they are.
  virtual bool KernelMovesBytes() const { return true; }
  // What a wait must watch the socket for before the last call can go on (a TLS session may
  // have to write to read, and the other way round).
  virtual short WaitEvents(bool receiving) const { return receiving ? POLLIN : POLLOUT; }
};

// The socket itself: every call goes straight to the system.
class PlainTransport final : public Transport {
 public:
  explicit PlainTransport(int fd) : fd_(fd) {}
  IoResult Receive(char* data, size_t length) override { return ReceiveBytes(fd_, data, length); }
  IoResult Send(const char* data, size_t length) override { return SendBytes(fd_, data, length); }

 private:
  int fd_;
};

}  // namespace tarnex::net
