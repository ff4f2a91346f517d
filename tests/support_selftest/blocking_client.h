// A minimal blocking FTP client for checking the test servers themselves. Every read and write
// gives up after a few seconds, so a server that misbehaves fails the test instead of hanging it.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace tarnex::testing::selftest {

constexpr int kIoTimeoutSeconds = 5;

// Owns a blocking TCP socket with send and receive time-outs.
class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) : fd_(fd) { SetTimeouts(); }
  ~Socket() { Close(); }
  Socket(Socket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Socket& operator=(Socket&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }

  static Socket Connect(uint16_t port) {
    Socket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address = Loopback(port);
    if (::connect(socket.fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      throw std::runtime_error("connect to port " + std::to_string(port) + ": " +
                               std::strerror(errno));
    }
    return socket;
  }

  // Listens on 127.0.0.1 at a free port, for PORT data connections.
  static Socket Listen() {
    Socket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address = Loopback(0);
    if (::bind(socket.fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(socket.fd_, 1) != 0) {
      throw std::runtime_error("listen failed");
    }
    return socket;
  }

  Socket Accept() const {
    pollfd entry{fd_, POLLIN, 0};
    if (::poll(&entry, 1, kIoTimeoutSeconds * 1000) != 1) {
      throw std::runtime_error("no data connection arrived");
    }
    return Socket(::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC));
  }

  uint16_t LocalPort() const {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
  }

  void SendAll(std::string_view bytes) const {
    while (!bytes.empty()) {
      ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n <= 0) throw std::runtime_error(std::string("send: ") + std::strerror(errno));
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
  }

  // One recv: the bytes, empty at an orderly close; `error` gets errno on failure.
  std::string ReceiveSome(int* error = nullptr) const {
    char block[64 * 1024];
    ssize_t n = ::recv(fd_, block, sizeof block, 0);
    if (error != nullptr) *error = n < 0 ? errno : 0;
    if (n < 0 && error == nullptr) throw std::runtime_error(std::strerror(errno));
    return std::string(block, n > 0 ? static_cast<std::size_t>(n) : 0);
  }

  // Everything until the peer closes; `error` gets the errno that ended it, or 0.
  std::string ReceiveAll(int* error = nullptr) const {
    std::string all;
    for (;;) {
      int failure = 0;
      std::string piece = ReceiveSome(&failure);
      if (piece.empty()) {
        if (error != nullptr) *error = failure;
        if (failure != 0 && error == nullptr) throw std::runtime_error(std::strerror(failure));
        return all;
      }
      all += piece;
    }
  }

  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int Get() const { return fd_; }

 private:
  static sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
  }
  void SetTimeouts() {
    timeval limit{kIoTimeoutSeconds, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  }

  int fd_ = -1;
};

// The control connection: commands out, lines and replies in.
class Client {
 public:
  explicit Client(uint16_t port) : control_(Socket::Connect(port)) {}

  // One line with its line end; empty when the server closed first.
  std::string ReadLine() {
    for (;;) {
      auto end = pending_.find('\n');
      if (end != std::string::npos) {
        std::string line = pending_.substr(0, end + 1);
        pending_.erase(0, end + 1);
        return line;
      }
      std::string piece = control_.ReceiveSome();
      if (piece.empty()) return std::exchange(pending_, {});
      pending_ += piece;
    }
  }

  // A whole reply: "123-" opens a multi-line reply that ends with a "123 " line.
  std::string ReadReply() {
    std::string reply = ReadLine();
    if (reply.size() >= 4 && reply[3] == '-') {
      std::string closing = reply.substr(0, 3) + " ";
      for (std::string line = ReadLine(); !line.empty(); line = ReadLine()) {
        reply += line;
        if (line.starts_with(closing)) break;
      }
    }
    return reply;
  }

  void Send(const std::string& command) { control_.SendAll(command + "\r\n"); }
  std::string Command(const std::string& command) {
    Send(command);
    return ReadReply();
  }

  // Opens the data connection of the next transfer: PASV and connect, or listen and PORT.
  Socket OpenPassive() {
    std::string reply = Command("PASV");
    auto open = reply.find('(');
    unsigned h1, h2, h3, h4, p1, p2;
    if (open == std::string::npos || std::sscanf(reply.c_str() + open, "(%u,%u,%u,%u,%u,%u)", &h1,
                                                 &h2, &h3, &h4, &p1, &p2) != 6) {
      throw std::runtime_error("bad PASV reply: " + reply);
    }
    return Socket::Connect(static_cast<uint16_t>(p1 * 256 + p2));
  }
  std::string SendPort(const Socket& listener) {
    uint16_t port = listener.LocalPort();
    return Command("PORT 127,0,0,1," + std::to_string(port / 256) + "," +
                   std::to_string(port % 256));
  }

  Socket& control() { return control_; }

 private:
  Socket control_;
  std::string pending_;
};

}  // namespace tarnex::testing::selftest
