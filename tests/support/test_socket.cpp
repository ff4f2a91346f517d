#include "tests/support/test_socket.h"

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace tarnex::testing::detail {
namespace {

// Short enough that a destructor raising the stop flag is obeyed at once.
constexpr std::chrono::milliseconds kSlice{20};

std::string ErrnoText(const char* what, int error) {
  return std::string(what) + ": " + std::strerror(error);
}

Fd NewTcpSocket(int family = AF_INET) {
  Fd fd(::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) throw std::runtime_error(ErrnoText("socket", errno));
  return fd;
}

// Every scripted write goes out at once: Nagle's algorithm would hold a second short reply
// until the client's delayed acknowledgement of the first, and merge pieces meant to be apart.
void SendImmediately(int fd) {
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

socklen_t LengthOf(const sockaddr_storage& address) {
  return address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

void BindLoopback(int fd, int family) {
  sockaddr_storage address = LoopbackAddress(family, 0);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), LengthOf(address)) != 0) {
    throw std::runtime_error(ErrnoText(family == AF_INET6 ? "bind ::1" : "bind 127.0.0.1", errno));
  }
}

}  // namespace

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.Release();
  }
  return *this;
}

int Fd::Release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

void Fd::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

Ready WaitFor(int fd, short events, Clock::time_point deadline, const StopCheck& stop) {
  for (;;) {
    if (stop && stop()) return Ready::kStopped;
    auto now = Clock::now();
    if (now >= deadline) return Ready::kTimeout;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
    pollfd entry{fd, events, 0};
    int n = ::poll(&entry, 1, static_cast<int>(std::min(left, kSlice).count()) + 1);
    if (n < 0 && errno != EINTR) return Ready::kError;
    // A hang-up or an error counts as ready: the next call reports what happened.
    if (n > 0) return Ready::kYes;
  }
}

bool SleepFor(std::chrono::milliseconds duration, const StopCheck& stop) {
  auto deadline = Clock::now() + duration;
  for (;;) {
    if (stop && stop()) return false;
    auto now = Clock::now();
    if (now >= deadline) return true;
    std::this_thread::sleep_for(std::min<Clock::duration>(deadline - now, kSlice));
  }
}

sockaddr_storage LoopbackAddress(int family, uint16_t port) {
  sockaddr_storage address{};
  if (family == AF_INET6) {
    auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(port);
    v6.sin6_addr = in6addr_loopback;
  } else {
    auto& v4 = reinterpret_cast<sockaddr_in&>(address);
    v4.sin_family = AF_INET;
    v4.sin_port = htons(port);
    v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  }
  return address;
}

bool IsLoopback(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET) {
    return (ntohl(reinterpret_cast<const sockaddr_in&>(address).sin_addr.s_addr) >> 24) == 127;
  }
  return address.ss_family == AF_INET6 &&
         IN6_IS_ADDR_LOOPBACK(&reinterpret_cast<const sockaddr_in6&>(address).sin6_addr);
}

Fd ListenLoopback(int backlog, int family) {
  Fd fd = NewTcpSocket(family);
  int on = 1;
  ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  BindLoopback(fd.Get(), family);
  if (::listen(fd.Get(), backlog) != 0) throw std::runtime_error(ErrnoText("listen", errno));
  return fd;
}

Fd BindClosedLoopbackPort(int family) {
  Fd fd = NewTcpSocket(family);
  BindLoopback(fd.Get(), family);
  return fd;
}

uint16_t LocalPort(int fd) {
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) return 0;
  return address.ss_family == AF_INET6
             ? ntohs(reinterpret_cast<sockaddr_in6&>(address).sin6_port)
             : ntohs(reinterpret_cast<sockaddr_in&>(address).sin_port);
}

std::string PeerText(int fd) {
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) return "?";
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
    ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    return "[" + std::string(text) + "]:" + std::to_string(ntohs(v6.sin6_port));
  }
  const auto& v4 = reinterpret_cast<sockaddr_in&>(address);
  ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
  return std::string(text) + ":" + std::to_string(ntohs(v4.sin_port));
}

IoResult ConnectTo(const sockaddr_storage& address, Fd& out, Clock::time_point deadline,
                   const StopCheck& stop, const std::string& source) {
  Fd fd = NewTcpSocket(address.ss_family);
  if (!source.empty()) {
    sockaddr_storage from = LoopbackAddress(address.ss_family, 0);
    void* host = address.ss_family == AF_INET6
                     ? static_cast<void*>(&reinterpret_cast<sockaddr_in6&>(from).sin6_addr)
                     : static_cast<void*>(&reinterpret_cast<sockaddr_in&>(from).sin_addr);
    if (::inet_pton(address.ss_family, source.c_str(), host) != 1 ||
        ::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&from), LengthOf(from)) != 0) {
      return {false, ErrnoText("bind", errno)};
    }
  }
  if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), LengthOf(address)) != 0 &&
      errno != EINPROGRESS) {
    return {false, ErrnoText("connect", errno)};
  }
  Ready ready = WaitFor(fd.Get(), POLLOUT, deadline, stop);
  if (ready == Ready::kTimeout) return {false, "connect: timed out", true};
  if (ready == Ready::kStopped) return {false, "connect: stopped"};
  int error = 0;
  socklen_t size = sizeof error;
  ::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &size);
  if (error != 0) return {false, ErrnoText("connect", error)};
  SendImmediately(fd.Get());
  out = std::move(fd);
  return {true, {}};
}

IoResult AcceptOne(int listener, Fd& out, Clock::time_point deadline, const StopCheck& stop) {
  for (;;) {
    Ready ready = WaitFor(listener, POLLIN, deadline, stop);
    if (ready == Ready::kTimeout) return {false, "accept: the client did not connect", true};
    if (ready == Ready::kStopped) return {false, "accept: stopped"};
    int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) {
      SendImmediately(fd);
      out = Fd(fd);
      return {true, {}};
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED) {
      return {false, ErrnoText("accept", errno)};
    }
  }
}

IoResult SendAll(int fd, std::string_view bytes, std::chrono::milliseconds idle,
                 const StopCheck& stop) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      return {false, ErrnoText("send", errno) + " after " + std::to_string(sent) + " bytes"};
    }
    Ready ready = WaitFor(fd, POLLOUT, Clock::now() + idle, stop);
    if (ready == Ready::kStopped) return {false, "send: stopped"};
    if (ready == Ready::kTimeout) return {false, "send: the peer stopped reading", true};
  }
  return {true, {}};
}

void ResetClose(Fd& fd) {
  if (!fd.Valid()) return;
  linger option{1, 0};
  ::setsockopt(fd.Get(), SOL_SOCKET, SO_LINGER, &option, sizeof option);
  fd.Close();
}

void DrainSendQueue(int fd, std::chrono::milliseconds limit, const StopCheck& stop) {
  auto deadline = Clock::now() + limit;
  for (;;) {
    int queued = 0;
    if (::ioctl(fd, SIOCOUTQ, &queued) != 0 || queued <= 0) return;
    if (Clock::now() >= deadline || !SleepFor(std::chrono::milliseconds(2), stop)) return;
  }
}

std::string Printable(std::string_view bytes, std::size_t limit) {
  std::string text;
  std::size_t i = 0;
  for (; i < bytes.size() && text.size() < limit; ++i) {
    auto c = static_cast<unsigned char>(bytes[i]);
    if (c == '\r') {
      text += "\\r";
    } else if (c == '\n') {
      text += "\\n";
    } else if (c < 0x20 || c == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      text += hex;
    } else {
      text += static_cast<char>(c);
    }
  }
  if (i < bytes.size()) {
    text += "... (" + std::to_string(bytes.size()) + " bytes)";
  }
  return text;
}

}  // namespace tarnex::testing::detail
