// TAsyncSock: switching a connection to TLS, and ending TLS before the connection closes.
#include "platform/errors.h"
#include "socket/async_sock.h"
#include "socket/async_sock_scopes.h"
#include "socket/socket_errors.h"
#include "socket/tls.h"

namespace tarnex {

void TAsyncSock::StartTls(net::TlsContext& context, const std::string& host, bool resume) {
  ReportStatus(kLevelTrace, "Start TLS");
  OperationScope operation(*this);
  TimerScope timer(*this);
  // The server speaks TLS from its next byte on: nothing plain may be waiting now.
  received_.Clear();
  auto tls = std::make_unique<net::TlsTransport>(socket_.Get(), context, host, resume);
  while (!tls->Handshake()) {
    if (Canceled) {
      Canceled = false;
      throw EAbortError("TLS handshake aborted");
    }
    WaitForSocket(tls->WaitEvents());
  }
  timer.Stop();
  secure_ = tls.get();
  transport_ = std::move(tls);
}

void TAsyncSock::ShutdownTls(bool wait_for_peer) {
  if (secure_ == nullptr) return;
  secure_->Shutdown();
  if (!wait_for_peer) return;
  // What the peer sends after the handshake (session tickets, its own close_notify) must be
  // read before the socket closes: closing on unread bytes resets the connection, and a reset
  // can take the last of the file with it before the server has read it. So the sending side
  // ends, and the close waits until the peer has closed too.
  ReportStatus(kLevelTrace, "TLS Close");
  OperationScope operation(*this);
  TimerScope timer(*this);
  net::ShutdownSending(socket_.Get());
  while (!Canceled) {
    const ssize_t n = Fill();
    received_.Clear();
    if (n > 0) continue;
    if (n == 0 || net::LastSocketError() != net::kWsaEWouldBlock) break;
    WaitForSocket(secure_->ReceiveWaitEvents());
  }
  timer.Stop();
  ThrowIfCanceled();
}

}  // namespace tarnex
