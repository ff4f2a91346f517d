#include "socket/socket_api.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "socket/socket_errors.h"

namespace tarnex::net {
namespace {

// The outcome of a call that returned `result`, 0 for success and -1 with errno for failure.
uint16_t CallOutcome(int result) {
  return result == 0 ? 0 : WinsockCodeFromErrno(errno);
}

// A descriptor a call returned, or why there is none.
NewSocket Made(int fd) {
  return fd >= 0 ? NewSocket{fd, 0} : NewSocket{-1, WinsockCodeFromErrno(errno)};
}

// The outcome of a transfer call that returned `n`, errno telling why when it is negative.
IoResult Outcome(ssize_t n) {
  if (n >= 0) return IoResult::Moved(static_cast<size_t>(n));
  return IoResult::Failure(WinsockCodeFromErrno(errno));
}

const sockaddr* AsSockaddr(const Address& address) {
  return reinterpret_cast<const sockaddr*>(&address);
}

}  // namespace

NewSocket CreateTcpSocket(int family) {
  return Made(::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
}

uint16_t CloseSocket(int fd) {
  return CallOutcome(::close(fd));
}

uint16_t ConnectSocket(int fd, const Address& address) {
  if (::connect(fd, AsSockaddr(address), AddressLength(address)) == 0) return 0;
  // An interrupted connect goes on in the background, like one in progress.
  if (errno == EINPROGRESS || errno == EINTR) return kWsaEWouldBlock;
  return WinsockCodeFromErrno(errno);
}

uint16_t BindSocket(int fd, const Address& address) {
  return CallOutcome(::bind(fd, AsSockaddr(address), AddressLength(address)));
}

uint16_t ListenSocket(int fd, int backlog) {
  return CallOutcome(::listen(fd, backlog));
}

NewSocket AcceptSocket(int fd, Address& peer) {
  socklen_t length = sizeof peer;
  int accepted;
  do {
    accepted =
        ::accept4(fd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
  } while (accepted < 0 && errno == EINTR);
  return Made(accepted);
}

IoResult SendBytes(int fd, const char* data, size_t length) {
  ssize_t n;
  do {
    n = ::send(fd, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  return Outcome(n);
}

IoResult ReceiveBytes(int fd, char* data, size_t length) {
  ssize_t n;
  do {
    n = ::recv(fd, data, length, MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  return Outcome(n);
}

uint16_t SetLinger(int fd, bool on, int seconds) {
  linger value{on ? 1 : 0, seconds};
  return CallOutcome(::setsockopt(fd, SOL_SOCKET, SO_LINGER, &value, sizeof value));
}

uint16_t AcknowledgeAtOnce(int fd) {
  int on = 1;
  return CallOutcome(::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on));
}

uint16_t ShutdownSending(int fd) {
  return CallOutcome(::shutdown(fd, SHUT_WR));
}

IoResult SpliceToPipe(int socket_fd, int pipe_fd, size_t length) {
  ssize_t n;
  do {
    n = ::splice(socket_fd, nullptr, pipe_fd, nullptr, length, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
  } while (n < 0 && errno == EINTR);
  return Outcome(n);
}

ssize_t SpliceFromPipe(int pipe_fd, int file_fd, size_t length) {
  ssize_t n;
  do {
    n = ::splice(pipe_fd, nullptr, file_fd, nullptr, length, SPLICE_F_MOVE);
  } while (n < 0 && errno == EINTR);
  return n;
}

IoResult SendFileBytes(int socket_fd, int file_fd, int64_t* offset, size_t length) {
  off_t position = *offset;
  ssize_t n;
  do {
    n = ::sendfile(socket_fd, file_fd, &position, length);
  } while (n < 0 && errno == EINTR);
  *offset = position;
  // ENOSYS as EINVAL: no file the kernel sends.
  if (n < 0 && errno == ENOSYS) return IoResult::Failure(kWsaEInvalid);
  return Outcome(n);
}

Pipe::Pipe() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
  read_ = ends[0];
  write_ = ends[1];
}

Pipe::~Pipe() {
  if (read_ >= 0) ::close(read_);
  if (write_ >= 0) ::close(write_);
}

uint16_t SetReuseAddress(int fd) {
  int on = 1;
  return CallOutcome(::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on));
}

uint16_t TakePendingError(int fd) {
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
  return error == 0 ? 0 : WinsockCodeFromErrno(error);
}

std::optional<Address> LocalAddress(int fd) {
  Address address{};
  socklen_t length = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return std::nullopt;
  return address;
}

std::optional<Address> PeerAddress(int fd) {
  Address address{};
  socklen_t length = sizeof address;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return std::nullopt;
  return address;
}

}  // namespace tarnex::net
