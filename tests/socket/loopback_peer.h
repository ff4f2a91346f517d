// Loopback peers for the socket tests: a server on 127.0.0.1 that runs a scripted conversation
// with plain blocking POSIX sockets on its own thread, and helpers to pump the message loop.
// Every wait is bounded.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

#include "platform/clock.h"
#include "platform/message_loop.h"

namespace tarnex::testing {

inline constexpr int kPeerTimeoutMs = 5000;

// Dispatches the loop until `done` holds or `limit_ms` has passed; true when `done` held.
template <typename Pred>
bool PumpUntil(Pred done, int limit_ms = 3000) {
  int64_t end = platform::MonotonicMs() + limit_ms;
  while (!done()) {
    if (platform::MonotonicMs() > end) return false;
    platform::MessageLoop::Current().WaitAndProcess(5);
  }
  return true;
}

inline void Pump(int ms) {
  PumpUntil([] { return false; }, ms);
}

// CPU time (user + system) of the calling thread, in microseconds.
inline int64_t ThreadCpuMicros() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return usage.ru_utime.tv_sec * 1000000L + usage.ru_utime.tv_usec +
         usage.ru_stime.tv_sec * 1000000L + usage.ru_stime.tv_usec;
}

inline void SetTimeouts(int fd) {
  timeval limit{kPeerTimeoutMs / 1000, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

inline bool SendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Everything until the other side closes (or the receive time-out ends it).
inline std::string ReceiveAll(int fd) {
  std::string data;
  char buffer[65536];
  ssize_t n;
  while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
    data.append(buffer, static_cast<size_t>(n));
  return data;
}

// One line up to and including its LF.
inline std::string ReceiveLine(int fd) {
  std::string line;
  char c;
  while (::recv(fd, &c, 1, 0) == 1) {
    line += c;
    if (c == '\n') break;
  }
  return line;
}

// Waits (bounded) until the other side has closed the connection.
inline bool WaitForClose(int fd) {
  char buffer[4096];
  int64_t end = platform::MonotonicMs() + kPeerTimeoutMs;
  while (platform::MonotonicMs() < end) {
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return true;
  }
  return false;
}

// Closes with a reset instead of an orderly close.
inline void ResetConnection(int fd) {
  linger abort{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  ::close(fd);
}

inline sockaddr_in Loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

inline uint16_t LocalPort(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

// A port on 127.0.0.1 that refuses connections: bound, so nobody else takes it, but not
// listening.
class RefusingPort {
 public:
  RefusingPort() : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address = Loopback(0);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    port_ = LocalPort(fd_);
  }
  ~RefusingPort() { ::close(fd_); }
  uint16_t port() const { return port_; }

 private:
  int fd_;
  uint16_t port_ = 0;
};

// Accepts one connection on 127.0.0.1 and runs `script` on it in its own thread; the
// connection is closed when the script returns, unless the script closed it (returns -1).
class LoopbackPeer {
 public:
  using Script = std::function<void(int fd)>;

  explicit LoopbackPeer(Script script) : listener_(::socket(AF_INET, SOCK_STREAM, 0)) {
    int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = Loopback(0);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 4);
    port_ = LocalPort(listener_);
    thread_ = std::thread([this, script = std::move(script)] {
      pollfd ready{listener_, POLLIN, 0};
      if (::poll(&ready, 1, kPeerTimeoutMs) != 1) return;
      int fd = ::accept(listener_, nullptr, nullptr);
      if (fd < 0) return;
      SetTimeouts(fd);
      script(fd);
      if (!closed_by_script_) ::close(fd);
    });
  }
  ~LoopbackPeer() {
    if (thread_.joinable()) thread_.join();
    ::close(listener_);
  }

  uint16_t port() const { return port_; }
  // For a script that closes (or resets) the connection itself.
  void MarkClosed() { closed_by_script_ = true; }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  int listener_;
  uint16_t port_ = 0;
  std::atomic<bool> closed_by_script_{false};
  std::thread thread_;
};

// Connects to 127.0.0.1:`port` from its own thread and runs `script` on the connection.
class LoopbackClient {
 public:
  LoopbackClient(uint16_t port, LoopbackPeer::Script script)
      : thread_([port, script = std::move(script)] {
          int fd = ::socket(AF_INET, SOCK_STREAM, 0);
          SetTimeouts(fd);
          sockaddr_in address = Loopback(port);
          if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            script(fd);
          }
          ::close(fd);
        }) {}
  ~LoopbackClient() { Join(); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::thread thread_;
};

}  // namespace tarnex::testing
