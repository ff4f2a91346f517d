#include "tests/support/fake_ftp_channel.h"

#include <openssl/err.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace tarnex::testing::detail {
namespace {

constexpr std::size_t kPendingBlock = 256 * 1024;

// The reasons OpenSSL queued on this thread, oldest first; `fallback` when it queued none.
std::string TlsErrors(const std::string& fallback) {
  std::string text;
  while (unsigned long code = ERR_get_error()) {
    const char* reason = ERR_reason_error_string(code);
    if (!text.empty()) text += "; ";
    text += reason != nullptr ? reason : "TLS error " + std::to_string(code);
  }
  return text.empty() ? fallback : text;
}

// A FIN reads as the end of the session too (SSL_OP_IGNORE_UNEXPECTED_EOF, which also keeps
// OpenSSL from answering it with an alert the script did not ask for); the alert itself is how
// the two are told apart.
void NoteCloseNotify(const SSL* ssl, int where, int alert) {
  if ((where & SSL_CB_READ_ALERT) == 0 || (alert & 0xFF) != SSL_AD_CLOSE_NOTIFY) return;
  if (auto* read = static_cast<bool*>(SSL_get_app_data(ssl))) *read = true;
}

}  // namespace

TlsServerContext::TlsServerContext(const std::filesystem::path& pem)
    : context_(SSL_CTX_new(TLS_server_method())) {
  if (!context_) throw std::runtime_error("TLS context: " + TlsErrors("out of memory"));
  SSL_CTX* context = context_.get();
  const std::string file = pem.string();
  if (SSL_CTX_use_certificate_chain_file(context, file.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(context, file.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_check_private_key(context) != 1) {
    throw std::runtime_error("TLS certificate " + file + ": " + TlsErrors("unusable"));
  }
  // Sends go on in pieces as the peer's window allows, like the plain ones.
  SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  SSL_CTX_set_options(context, SSL_OP_IGNORE_UNEXPECTED_EOF);
  SSL_CTX_set_info_callback(context, NoteCloseNotify);
  // TLS 1.2 session ids resume only within the context they were issued for; tickets (TLS 1.3
  // and 1.2) are sealed with this context's keys, so every connection of the server takes them.
  static constexpr unsigned char kSessionContext[] = "tarnex fake FTP server";
  SSL_CTX_set_session_id_context(context, kSessionContext, sizeof kSessionContext - 1);
  SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_SERVER);
}

IoResult Channel::AcceptTls(SSL_CTX* context, Clock::time_point deadline, const StopCheck& stop) {
  auto tls = std::make_unique<Tls>();
  tls->ssl.reset(SSL_new(context));
  if (!tls->ssl || SSL_set_fd(tls->ssl.get(), fd_.Get()) != 1) {
    return {false, "TLS handshake: " + TlsErrors("no session")};
  }
  SSL_set_app_data(tls->ssl.get(), &tls->close_notify_read);
  SSL_set_accept_state(tls->ssl.get());
  tls_ = std::move(tls);
  for (;;) {
    ERR_clear_error();
    errno = 0;
    const int result = SSL_do_handshake(tls_->ssl.get());
    if (result == 1) return {true, {}};
    const Stall stall = Stalled(result, errno);
    if (stall.wait == 0) return {false, "TLS handshake failed: " + stall.error};
    const Ready ready = WaitFor(fd_.Get(), stall.wait, deadline, stop);
    if (ready == Ready::kStopped) return {false, "TLS handshake: stopped"};
    if (ready == Ready::kTimeout) {
      return {false, "TLS handshake: the client did not complete it", true};
    }
  }
}

std::string Channel::TlsSummary() const {
  if (!tls_) return "none";
  SSL* ssl = tls_->ssl.get();
  return std::string(SSL_get_version(ssl)) +
         (SSL_session_reused(ssl) == 1 ? ", session resumed" : ", new session");
}

Channel::Stall Channel::Stalled(int result, int error) {
  switch (SSL_get_error(tls_->ssl.get(), result)) {
    case SSL_ERROR_WANT_READ:
      return {POLLIN, {}, {}};
    case SSL_ERROR_WANT_WRITE:
      return {POLLOUT, {}, {}};
    case SSL_ERROR_ZERO_RETURN:
      if (tls_->close_notify_read) {
        return {0, Input::Kind::kCloseNotify, "the client sent close_notify"};
      }
      return {0, Input::Kind::kEnd, "the client closed without close_notify"};
    case SSL_ERROR_SYSCALL: {
      tls_->broken = true;
      const std::string queued = TlsErrors("");
      if (error != 0) return {0, Input::Kind::kError, std::strerror(error)};
      return {0, Input::Kind::kError, queued.empty() ? "the connection broke" : queued};
    }
    default:
      tls_->broken = true;
      return {0, Input::Kind::kError, TlsErrors("TLS failure")};
  }
}

IoResult Channel::Send(std::string_view bytes, std::chrono::milliseconds idle,
                       const StopCheck& stop) {
  if (!tls_) return SendAll(fd_.Get(), bytes, idle, stop);
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    ERR_clear_error();
    errno = 0;
    std::size_t written = 0;
    const int result =
        SSL_write_ex(tls_->ssl.get(), bytes.data() + sent, bytes.size() - sent, &written);
    if (result == 1) {
      sent += written;
      continue;
    }
    const Stall stall = Stalled(result, errno);
    if (stall.wait == 0) {
      return {false, "send: " + stall.error + " after " + std::to_string(sent) + " bytes"};
    }
    const Ready ready = WaitFor(fd_.Get(), stall.wait, Clock::now() + idle, stop);
    if (ready == Ready::kStopped) return {false, "send: stopped"};
    if (ready == Ready::kTimeout) return {false, "send: the peer stopped reading", true};
  }
  return {true, {}};
}

Input Channel::Receive(char* buffer, std::size_t size, Clock::time_point deadline,
                       const StopCheck& stop) {
  for (;;) {
    short wait = POLLIN;
    if (tls_) {
      ERR_clear_error();
      errno = 0;
      std::size_t got = 0;
      const int result = SSL_read_ex(tls_->ssl.get(), buffer, size, &got);
      if (result == 1) return {Input::Kind::kData, got, {}};
      const Stall stall = Stalled(result, errno);
      if (stall.wait == 0) return {stall.end, 0, stall.error};
      wait = stall.wait;
    } else {
      const ssize_t n = ::recv(fd_.Get(), buffer, size, 0);
      if (n > 0) return {Input::Kind::kData, static_cast<std::size_t>(n), {}};
      if (n == 0) return {Input::Kind::kEnd, 0, {}};
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        return {Input::Kind::kError, 0, std::strerror(errno)};
      }
    }
    switch (WaitFor(fd_.Get(), wait, deadline, stop)) {
      case Ready::kYes:
        break;
      case Ready::kStopped:
        return {Input::Kind::kStopped, 0, {}};
      case Ready::kTimeout:
        return {Input::Kind::kTimeout, 0, {}};
      case Ready::kError:
        return {Input::Kind::kError, 0, std::string("poll: ") + std::strerror(errno)};
    }
  }
}

void Channel::ReceivePending(std::string& out) {
  std::string block(kPendingBlock, '\0');
  if (tls_ && !tls_->broken) {
    for (;;) {
      ERR_clear_error();
      errno = 0;
      std::size_t got = 0;
      const int result = SSL_read_ex(tls_->ssl.get(), block.data(), block.size(), &got);
      if (result != 1) {
        Stalled(result, errno);
        break;
      }
      out.append(block.data(), got);
    }
  }
  // Whatever is left on the socket is read as well, so that closing sends a FIN, not a reset;
  // under TLS those are no records that could still be read, and are dropped.
  for (;;) {
    const ssize_t n = ::recv(fd_.Get(), block.data(), block.size(), MSG_DONTWAIT);
    if (n <= 0) return;
    if (!tls_) out.append(block.data(), static_cast<std::size_t>(n));
  }
}

bool Channel::SendCloseNotify(std::chrono::milliseconds idle, const StopCheck& stop) {
  if (!tls_ || tls_->broken) return false;
  const auto deadline = Clock::now() + idle;
  for (;;) {
    ERR_clear_error();
    errno = 0;
    // 0: sent, the peer's not seen yet; 1: both sent. Nobody waits here for the peer's.
    const int result = SSL_shutdown(tls_->ssl.get());
    if (result >= 0) return true;
    const Stall stall = Stalled(result, errno);
    if (stall.wait == 0 || WaitFor(fd_.Get(), stall.wait, deadline, stop) != Ready::kYes) {
      return false;
    }
  }
}

void Channel::ShutdownWrite() {
  if (fd_.Valid()) ::shutdown(fd_.Get(), SHUT_WR);
}

void Channel::Reset(std::chrono::milliseconds drain_limit, const StopCheck& stop) {
  if (!fd_.Valid()) return;
  DrainSendQueue(fd_.Get(), drain_limit, stop);
  tls_.reset();
  ResetClose(fd_);
}

void Channel::Close() {
  tls_.reset();
  fd_.Close();
}

}  // namespace tarnex::testing::detail
