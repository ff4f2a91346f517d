// Thin wrappers around the POSIX socket calls. Each returns its outcome as a value: a failing
// call gives the WinSock code of its failure (the codes the socket layer's messages are made
// of), never a code left behind for the caller to fetch.
#pragma once

#include <netinet/in.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>

#include "socket/socket_address.h"

namespace tarnex::net {

// What one receive or send did, as a value: `count` bytes moved; or none and `error` 0, the
// peer's orderly end (a receive, or a file sent to its end); or none and the WinSock code of
// the failure in `error`, 10035 when the call must wait for the socket first.
struct IoResult {
  size_t count = 0;
  uint16_t error = 0;

  static IoResult Moved(size_t count) { return {count, 0}; }
  static IoResult End() { return {0, 0}; }
  static IoResult Failure(uint16_t code) { return {0, code}; }
  bool Progress() const { return count > 0; }
  bool Ended() const { return count == 0 && error == 0; }
};

// A descriptor a call made (a socket, an accepted connection): `fd`, or -1 and the WinSock
// code of the failure in `error`.
struct NewSocket {
  int fd = -1;
  uint16_t error = 0;
};

// The calls below that return a uint16_t return 0 when they did what they were asked, else
// the WinSock code of their failure.

// A non-blocking TCP socket of `family` (AF_INET or AF_INET6).
NewSocket CreateTcpSocket(int family = AF_INET);
// Closes `fd`. The descriptor is gone afterwards in either case.
uint16_t CloseSocket(int fd);
// Starts a non-blocking connect: 0 when connected at once; a connection that is still being
// made reports 10035 (would block), as WinSock does.
uint16_t ConnectSocket(int fd, const Address& address);
uint16_t BindSocket(int fd, const Address& address);
uint16_t ListenSocket(int fd, int backlog);
// A non-blocking accepted socket; the peer's address goes to `peer`.
NewSocket AcceptSocket(int fd, Address& peer);
// Never blocks and never raises SIGPIPE.
IoResult SendBytes(int fd, const char* data, size_t length);
// Never blocks.
IoResult ReceiveBytes(int fd, char* data, size_t length);

uint16_t SetLinger(int fd, bool on, int seconds);
// What arrives next is acknowledged at once, not after the delay the system otherwise takes
// (TCP_QUICKACK; the system goes back to delaying on its own, so it is asked again each time).
uint16_t AcknowledgeAtOnce(int fd);
// Ends the sending direction (the peer reads the end of the stream).
uint16_t ShutdownSending(int fd);

// Up to `length` bytes from the socket into the pipe, inside the kernel.
IoResult SpliceToPipe(int socket_fd, int pipe_fd, size_t length);
// Up to `length` bytes from the pipe into a file: the count, or -1 with errno as the system
// left it (a file error, not a socket's; EINVAL when the file takes no spliced bytes).
ssize_t SpliceFromPipe(int pipe_fd, int file_fd, size_t length);
// Up to `length` bytes of the file from `*offset` into the socket (which moves it on); the
// end of the file ends it. A file the kernel cannot send this way fails with 10022.
IoResult SendFileBytes(int socket_fd, int file_fd, int64_t* offset, size_t length);

// A pipe whose two ends are closed once; for moving bytes between a socket and a file
// through the kernel.
class Pipe {
 public:
  Pipe();  // Valid() tells whether one could be made
  ~Pipe();
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  bool Valid() const { return read_ >= 0; }
  int ReadEnd() const { return read_; }
  int WriteEnd() const { return write_; }

 private:
  int read_ = -1;
  int write_ = -1;
};
uint16_t SetReuseAddress(int fd);
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
