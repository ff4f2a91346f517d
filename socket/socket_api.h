// Thin wrappers around the POSIX socket calls. Each keeps the result of the call; a failing
// call stores its WinSock code as the thread's last socket error (see LastSocketError), the
// way WinSock keeps its last error, so callers test it afterwards.
#pragma once

#include <netinet/in.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>

#include "socket/socket_address.h"

namespace tarnex::net {

// The WinSock code of the latest failed socket call on this thread.
uint16_t LastSocketError();
void SetLastSocketError(uint16_t code);

// A non-blocking TCP socket of `family` (AF_INET or AF_INET6), or -1.
int CreateTcpSocket(int family = AF_INET);
// Closes `fd`; 0 or -1. The descriptor is gone afterwards in either case.
int CloseSocket(int fd);
// Starts a non-blocking connect: 0 when connected at once, else -1; a connection that is
// still being made reports 10035 (would block), as WinSock does.
int ConnectSocket(int fd, const Address& address);
int BindSocket(int fd, const Address& address);
int ListenSocket(int fd, int backlog);
// A non-blocking accepted socket, or -1; the peer's address goes to `peer`.
int AcceptSocket(int fd, Address& peer);
// Never blocks and never raises SIGPIPE.
ssize_t SendBytes(int fd, const char* data, size_t length);
// Never blocks; `flags` may add MSG_PEEK.
ssize_t ReceiveBytes(int fd, char* data, size_t length, int flags);

int SetLinger(int fd, bool on, int seconds);
// Ends the sending direction (the peer reads the end of the stream); 0 or -1.
int ShutdownSending(int fd);
int SetReuseAddress(int fd);
// The socket's pending error as a WinSock code (0 when none); reading it clears it.
uint16_t TakePendingError(int fd);
std::optional<Address> LocalAddress(int fd);
std::optional<Address> PeerAddress(int fd);

// Owns one socket descriptor and closes it once.
class SocketHandle {
 public:
  SocketHandle() = default;
  explicit SocketHandle(int fd) : fd_(fd) {}
  ~SocketHandle() { Reset(); }
  SocketHandle(SocketHandle&& other) noexcept : fd_(other.Release()) {}
  SocketHandle& operator=(SocketHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  SocketHandle(const SocketHandle&) = delete;
  SocketHandle& operator=(const SocketHandle&) = delete;

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset(int fd = -1) {
    if (fd_ >= 0) CloseSocket(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

}  // namespace tarnex::net
