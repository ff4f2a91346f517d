// A TLS session over a loopback connection, against an OpenSSL server on the peer's thread:
// what the session has read ahead of the caller is handed over, and its end comes after it.
#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <atomic>
#include <memory>

#include "platform/errors.h"
#include "socket/async_sock.h"
#include "socket/tls.h"
#include "tests/socket/loopback_peer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_certificate.h"

namespace tarnex {
namespace {

using testing::LoopbackPeer;

struct SslContextFree {
  void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};

// Serves one TLS session on `fd`: each of `records` as a record of its own, sent at once,
// then close_notify (or, with `cut`, the end of the TCP connection alone); `sent` is set when
// all of it is on its way.
void ServeRecords(int fd, const std::string& pem, const std::vector<std::string>& records,
                  std::atomic<bool>& sent, bool cut = false) {
  std::unique_ptr<SSL_CTX, SslContextFree> context(SSL_CTX_new(TLS_server_method()));
  if (SSL_CTX_use_certificate_chain_file(context.get(), pem.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(context.get(), pem.c_str(), SSL_FILETYPE_PEM) != 1) {
    return;
  }
  std::unique_ptr<SSL, SslFree> ssl(SSL_new(context.get()));
  SSL_set_fd(ssl.get(), fd);
  // Every record leaves at once, none waits for the acknowledgement of the one before.
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  if (SSL_accept(ssl.get()) != 1) return;
  for (const auto& record : records) {
    if (SSL_write(ssl.get(), record.data(), static_cast<int>(record.size())) <= 0) return;
  }
  if (cut) {
    ::shutdown(fd, SHUT_WR);  // a FIN without the TLS alert before it
  } else {
    SSL_shutdown(ssl.get());
  }
  sent = true;
  testing::WaitForClose(fd);
}

TEST(TlsTransport, EveryRecordThatHasArrivedIsHandedOverAndTheEndComesAfterIt) {
  testing::TempDir dir;
  const auto certificate = testing::MakeTestCertificate(dir.path());
  const std::vector<std::string> records = {"211-first\r\n", " second\r\n", "211 third\r\n"};
  // Only close_notify ends the stream; a connection cut without it is a failure, never an end
  // that a reader could take for the whole of the data.
  for (bool cut : {false, true}) {
    SCOPED_TRACE(cut ? "cut without close_notify" : "closed with close_notify");
    std::atomic<bool> sent{false};
    LoopbackPeer peer(
        [&](int fd) { ServeRecords(fd, certificate.pem.string(), records, sent, cut); });
    net::TlsContext context({"", certificate.fingerprint});
    TAsyncSock sock;
    sock.Host = "127.0.0.1";
    sock.Port = peer.port();
    sock.TimeOut = 5000;
    sock.Connect();
    sock.StartTls(context, "127.0.0.1", false);
    ASSERT_TRUE(testing::PumpUntil([&] { return sent.load(); }));
    testing::Pump(20);  // slack: loopback has delivered them when the last send returned
    // One look at what is waiting takes all three records, not the first alone.
    EXPECT_EQ(sock.Read(0), "211-first\r\n second\r\n211 third\r\n");
    if (cut) {
      try {
        sock.ReadLn();
        ADD_FAILURE() << "the cut was taken for an end";
      } catch (const ESockError& error) {
        EXPECT_EQ(error.Message(),
                  "12001:Connection cut short: it ended without the TLS close_notify");
      }
    } else {
      EXPECT_EQ(sock.ReadLn(), "");
    }
    sock.SetLinger(false);
    sock.Disconnect();
    peer.Join();
  }
}

}  // namespace
}  // namespace tarnex
