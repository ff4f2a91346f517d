#include "socket/tls.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <memory>

#include "platform/errors.h"
#include "socket/socket_address.h"
#include "socket/socket_api.h"
#include "socket/socket_errors.h"
#include "text/fingerprint.h"

namespace tarnex::net {
namespace {

// The reason OpenSSL gives for the last failure, or `fallback`.
std::string LastTlsError(const char* fallback) {
  const unsigned long code = ERR_peek_last_error();
  const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
  return reason != nullptr ? reason : fallback;
}

// The SHA-256 fingerprint of `certificate` as "AB:CD:...", as people compare them.
std::string ShownFingerprint(X509* certificate) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  X509_digest(certificate, EVP_sha256(), digest, &length);
  const std::unique_ptr<char, TlsFree> text(OPENSSL_buf2hexstr(digest, length));
  return text ? std::string(text.get()) : std::string();
}

// The newest session of any connection is the one to offer next: a TLS 1.3 ticket serves
// one resumption only, and each resumed data connection brings a fresh one.
int KeepNewSession(SSL* ssl, SSL_SESSION* session) {
  auto* context = static_cast<TlsContext*>(SSL_get_app_data(ssl));
  if (context == nullptr) return 0;
  context->KeepSession(session);
  return 1;  // the reference is ours now
}

}  // namespace

TlsContext::TlsContext(TlsPolicy policy) : policy_(std::move(policy)) {
  if (!policy_.fingerprint.empty()) {
    const std::string hex = NormalizeFingerprint(policy_.fingerprint);
    if (hex.empty()) {
      throw ESockError("TLS fingerprint is not a SHA-256 fingerprint (64 hex digits): " +
                       policy_.fingerprint);
    }
    policy_.fingerprint = hex;
  }
  context_.reset(SSL_CTX_new(TLS_client_method()));
  if (!context_) throw ESockError("TLS unavailable: " + LastTlsError("no context"));
  SSL_CTX* const context = context_.get();
  SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
  // A connection that ends without close_notify is not taken for a normal end: anybody on the
  // way can cut a TCP connection, and only close_notify says that the data is all there (a
  // text transfer has no size to hold it to).
  SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  // Records are read from the socket up to 256 KiB at a time, not one system call for each
  // record's header and another for its body.
  SSL_CTX_set_read_ahead(context, 1);
  SSL_CTX_set_default_read_buffer_len(context, 256 * 1024);
  // The chain is checked always; the verdict is read after the handshake, so that a refusal
  // can say why and show the fingerprint.
  SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
  SSL_CTX_set_default_verify_paths(context);
  if (!policy_.ca_file.empty() &&
      SSL_CTX_load_verify_locations(context, policy_.ca_file.c_str(), nullptr) != 1) {
    throw ESockError("TLS CA file cannot be read: " + policy_.ca_file);
  }
  SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(context, KeepNewSession);
}

void TlsContext::KeepSession(SSL_SESSION* session) {
  session_.reset(session);
}

TlsTransport::TlsTransport(int fd, TlsContext& context, const std::string& host, bool resume)
    : context_(context), host_(host) {
  if (host_.size() >= 2 && host_.front() == '[' && host_.back() == ']') {
    host_ = host_.substr(1, host_.size() - 2);
  }
  ssl_.reset(SSL_new(context.Get()));
  if (!ssl_ || SSL_set_fd(ssl_.get(), fd) != 1) {
    throw ESockError("TLS unavailable: " + LastTlsError("no session"));
  }
  if (context.Policy().fingerprint.empty()) {
    // The certificate must name the host as Open gave it: a name, or an address.
    if (ParseNumericAddress(host_)) {
      X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_.get()), host_.c_str());
    } else {
      SSL_set1_host(ssl_.get(), host_.c_str());
    }
  }
  if (!ParseNumericAddress(host_)) SSL_set_tlsext_host_name(ssl_.get(), host_.c_str());
  if (resume && context.Session() != nullptr) SSL_set_session(ssl_.get(), context.Session());
  SSL_set_app_data(ssl_.get(), &context);
  SSL_set_connect_state(ssl_.get());
}

bool TlsTransport::Handshake() {
  ERR_clear_error();
  const int result = SSL_connect(ssl_.get());
  if (result == 1) {
    CheckPeer();
    wait_events_ = POLLIN;
    return true;
  }
  switch (SSL_get_error(ssl_.get(), result)) {
    case SSL_ERROR_WANT_READ:
      wait_events_ = POLLIN;
      return false;
    case SSL_ERROR_WANT_WRITE:
      wait_events_ = POLLOUT;
      return false;
    case SSL_ERROR_SYSCALL:
    case SSL_ERROR_ZERO_RETURN:
      throw ESockError("TLS handshake failed: " +
                       LastTlsError("the server closed the connection"));
    default:
      throw ESockError("TLS handshake failed: " + LastTlsError("unknown error"));
  }
}

void TlsTransport::CheckPeer() const {
  const std::unique_ptr<X509, TlsFree> certificate(SSL_get1_peer_certificate(ssl_.get()));
  if (!certificate) throw ESockError("TLS certificate missing: the server sent none");
  const std::string fingerprint = ShownFingerprint(certificate.get());
  const std::string hex = NormalizeFingerprint(fingerprint);
  const std::string shown = "; the server's certificate has the SHA-256 fingerprint " + fingerprint;
  const std::string& pinned = context_.Policy().fingerprint;
  if (!pinned.empty()) {
    if (hex != pinned) {
      throw ESockError("TLS certificate rejected: it is not the pinned one" + shown);
    }
    return;  // the pinned certificate: no authority or name to ask about
  }
  const long verdict = SSL_get_verify_result(ssl_.get());
  if (verdict != X509_V_OK) {
    throw ESockError(std::string("TLS certificate rejected: ") +
                     X509_verify_cert_error_string(verdict) + shown);
  }
}

bool TlsTransport::Shutdown() {
  ERR_clear_error();
  SSL_shutdown(ssl_.get());
  return true;
}

bool TlsTransport::HasBuffered() const {
  return deferred_ || SSL_has_pending(ssl_.get()) == 1;
}

IoResult TlsTransport::Stalled(int result) {
  switch (SSL_get_error(ssl_.get(), result)) {
    case SSL_ERROR_WANT_READ:
      wait_events_ = POLLIN;
      return IoResult::Failure(kWsaEWouldBlock);
    case SSL_ERROR_WANT_WRITE:
      wait_events_ = POLLOUT;
      return IoResult::Failure(kWsaEWouldBlock);
    case SSL_ERROR_ZERO_RETURN:
      return IoResult::End();  // close_notify: the peer's orderly end
    case SSL_ERROR_SYSCALL:
      // An end of the connection without close_notify, or a failing system call.
      return IoResult::Failure(errno != 0 ? WinsockCodeFromErrno(errno) : kTlsCutShort);
    default:
      if (ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
        return IoResult::Failure(kTlsCutShort);
      }
      return IoResult::Failure(kWsaEConnAborted);  // the TLS record layer broke: nothing more comes
  }
}

IoResult TlsTransport::Receive(char* data, size_t length) {
  if (deferred_) {
    // What ended the previous call after it had handed over data.
    const IoResult result = *deferred_;
    deferred_.reset();
    return result;
  }
  // The session reads ahead, many records at a time, and one SSL_read gives one record: so
  // every complete record it holds is handed over now. A wait on the socket would not see them.
  size_t total = 0;
  while (total < length) {
    ERR_clear_error();
    errno = 0;
    size_t got = 0;
    const int result = SSL_read_ex(ssl_.get(), data + total, length - total, &got);
    if (result == 1) {
      total += got;
      continue;
    }
    const IoResult stalled = Stalled(result);
    if (total == 0) return stalled;
    // The data now; an end or a failure behind it at the next call.
    if (stalled.error != kWsaEWouldBlock) deferred_ = stalled;
    break;
  }
  return IoResult::Moved(total);
}

IoResult TlsTransport::Send(const char* data, size_t length) {
  ERR_clear_error();
  errno = 0;
  size_t sent = 0;
  const int result = SSL_write_ex(ssl_.get(), data, length, &sent);
  if (result == 1) return IoResult::Moved(sent);
  return Stalled(result);
}

}  // namespace tarnex::net
