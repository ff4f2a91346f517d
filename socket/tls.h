// TLS for FTPS (on OpenSSL): one context per FTP session, whose certificate checks and saved
// session every connection of the session shares, and the transport that carries a
// connection's bytes through a TLS session once its handshake is done.
#pragma once

#include <openssl/ssl.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "socket/transport.h"

namespace tarnex::net {

// How a server's certificate is judged: against the system's trusted authorities (and the CA
// file, when one is given) and the host name or address it was reached by; or, with a
// fingerprint, by that alone (a self-signed server).
struct TlsPolicy {
  std::string ca_file;      // PEM; empty: the system's store only
  std::string fingerprint;  // SHA-256, 64 hex digits (any case, colons allowed); empty: none
};

// OpenSSL's handles, each freed by its own function.
struct TlsFree {
  void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
  void operator()(SSL* ssl) const { SSL_free(ssl); }
  void operator()(SSL_SESSION* session) const { SSL_SESSION_free(session); }
  void operator()(X509* certificate) const { X509_free(certificate); }
  void operator()(char* text) const { OPENSSL_free(text); }
};
using TlsContextHandle = std::unique_ptr<SSL_CTX, TlsFree>;
using TlsHandle = std::unique_ptr<SSL, TlsFree>;
using TlsSessionHandle = std::unique_ptr<SSL_SESSION, TlsFree>;

class TlsContext {
 public:
  // Raises ESockError when the CA file cannot be read or the fingerprint is malformed.
  explicit TlsContext(TlsPolicy policy);
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;

  SSL_CTX* Get() const { return context_.get(); }
  const TlsPolicy& Policy() const { return policy_; }
  // The session a connection of this context last received, which the next data connection
  // resumes (some servers refuse a data connection that does not); null until there is one.
  SSL_SESSION* Session() const { return session_.get(); }
  void KeepSession(SSL_SESSION* session);  // takes the reference

 private:
  TlsPolicy policy_;
  TlsContextHandle context_;
  TlsSessionHandle session_;
};

class TlsTransport final : public Transport {
 public:
  // A client session over the connected socket `fd`, for the server `host` (a name or an
  // address); with `resume` it offers the context's saved session.
  TlsTransport(int fd, TlsContext& context, const std::string& host, bool resume);

  // One step of the handshake: true once it is done and the certificate is accepted. A
  // failure's text holds the word "certificate" and the certificate's fingerprint when that
  // was it.
  bool Handshake() override;
  // Every complete record that has arrived; an end or a failure met behind them comes at the
  // next call. Only close_notify is an end: a connection cut without it is a failure (12001).
  IoResult Receive(char* data, size_t length) override;
  IoResult Send(const char* data, size_t length) override;
  bool HasBuffered() const override;
  // close_notify.
  bool Shutdown() override;
  bool KernelMovesBytes() const override { return false; }
  short WaitEvents(bool) const override { return wait_events_; }

 private:
  // What SSL_get_error says about a call that made no progress: 10035 to wait (and for what),
  // the peer's orderly end, or a connection error.
  IoResult Stalled(int result);
  void CheckPeer() const;

  TlsContext& context_;
  std::string host_;
  TlsHandle ssl_;
  short wait_events_ = POLLIN;
  // An end or a failure met after a Receive had data to give.
  std::optional<IoResult> deferred_;
};

}  // namespace tarnex::net
