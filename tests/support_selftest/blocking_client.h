// A minimal blocking FTP client for checking the test servers themselves, in the clear or over
// TLS. Every read and write gives up after a few seconds, so a server that misbehaves fails the
// test instead of hanging it.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace tarnex::testing::selftest {

constexpr int kIoTimeoutSeconds = 5;

// How a TLS read ended, in the `error` of ReceiveSome and ReceiveAll beside the errno values
// (ECONNRESET): 0 is the server's close_notify, this a FIN without one, a cut that a client
// must not take for the end of the data.
constexpr int kNoCloseNotify = -1;

struct SslContextFree {
  void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};
struct SslSessionFree {
  void operator()(SSL_SESSION* session) const { SSL_SESSION_free(session); }
};
using TlsContext = std::unique_ptr<SSL_CTX, SslContextFree>;
using TlsSession = std::unique_ptr<SSL_SESSION, SslSessionFree>;

// A client context that takes any certificate (the servers' ones are made for the test), on
// one protocol `version` (say TLS1_2_VERSION) or any. `options` go to SSL_CTX_set_options.
inline TlsContext ClientTlsContext(int version = 0, uint64_t options = 0) {
  // OpenSSL writes with write(): a server that has closed must fail the write, not the program.
  std::signal(SIGPIPE, SIG_IGN);
  TlsContext context(SSL_CTX_new(TLS_client_method()));
  if (!context) throw std::runtime_error("no TLS client context");
  if (version != 0) {
    SSL_CTX_set_min_proto_version(context.get(), version);
    SSL_CTX_set_max_proto_version(context.get(), version);
  }
  SSL_CTX_set_options(context.get(), options);
  return context;
}

// Owns a blocking TCP socket with send and receive time-outs.
class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) : fd_(fd) { SetTimeouts(); }
  ~Socket() { Close(); }
  Socket(Socket&& other) noexcept : fd_(other.fd_), ssl_(std::move(other.ssl_)) { other.fd_ = -1; }
  Socket& operator=(Socket&& other) noexcept {
    std::swap(fd_, other.fd_);
    std::swap(ssl_, other.ssl_);
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

  // The client's side of a TLS handshake, offering `resume` when given; throws when it fails.
  void StartTls(SSL_CTX* context, SSL_SESSION* resume = nullptr) {
    ssl_.reset(SSL_new(context));
    if (!ssl_ || SSL_set_fd(ssl_.get(), fd_) != 1) throw std::runtime_error("no TLS session");
    if (resume != nullptr) SSL_set_session(ssl_.get(), resume);
    ERR_clear_error();
    if (SSL_connect(ssl_.get()) != 1) {
      char text[256] = "no reason";
      ERR_error_string_n(ERR_get_error(), text, sizeof text);
      throw std::runtime_error(std::string("TLS handshake: ") + text);
    }
  }
  bool Resumed() const { return ssl_ && SSL_session_reused(ssl_.get()) == 1; }
  // The session to offer on the next connection (a TLS 1.3 one only after a read, which
  // takes in the server's tickets).
  TlsSession Session() const { return TlsSession(SSL_get1_session(ssl_.get())); }
  void CloseNotify() const { SSL_shutdown(ssl_.get()); }

  void SendAll(std::string_view bytes) const {
    while (!bytes.empty()) {
      std::size_t n = 0;
      if (ssl_) {
        if (SSL_write_ex(ssl_.get(), bytes.data(), bytes.size(), &n) != 1) {
          throw std::runtime_error("TLS send failed");
        }
      } else {
        ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0) throw std::runtime_error(std::string("send: ") + std::strerror(errno));
        n = static_cast<std::size_t>(sent);
      }
      bytes.remove_prefix(n);
    }
  }

  // One recv: the bytes, empty at an orderly close; `error` gets errno on failure.
  std::string ReceiveSome(int* error = nullptr) const {
    char block[64 * 1024];
    std::size_t size = 0;
    int failure = ssl_ ? ReadTls(block, sizeof block, size) : ReadPlain(block, sizeof block, size);
    if (error != nullptr) *error = failure;
    if (failure != 0 && error == nullptr) {
      throw std::runtime_error(failure == kNoCloseNotify ? "a FIN without close_notify"
                                                         : std::strerror(failure));
    }
    return std::string(block, size);
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
    ssl_.reset();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int Get() const { return fd_; }

 private:
  int ReadPlain(char* block, std::size_t capacity, std::size_t& size) const {
    ssize_t n = ::recv(fd_, block, capacity, 0);
    size = n > 0 ? static_cast<std::size_t>(n) : 0;
    return n < 0 ? errno : 0;
  }
  int ReadTls(char* block, std::size_t capacity, std::size_t& size) const {
    ERR_clear_error();
    errno = 0;
    if (SSL_read_ex(ssl_.get(), block, capacity, &size) == 1) return 0;
    const int failure = errno;
    switch (SSL_get_error(ssl_.get(), 0)) {
      case SSL_ERROR_ZERO_RETURN:
        return 0;
      case SSL_ERROR_SSL:
        return ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING
                   ? kNoCloseNotify
                   : EPROTO;
      default:  // a reset, or the time-out (EAGAIN)
        return failure != 0 ? failure : EPROTO;
    }
  }

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
  std::unique_ptr<SSL, SslFree> ssl_;
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
  // After the server's 234 (or at once for implicit TLS).
  void StartTls(SSL_CTX* context) { control_.StartTls(context); }
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
