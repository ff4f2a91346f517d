// TAsyncSock: switching a connection to TLS, and ending TLS before the connection closes.
#include <utility>

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
  std::unique_ptr<net::Transport> plain = std::exchange(
      transport_, std::make_unique<net::TlsTransport>(socket_.Get(), context, host, resume));
  // The handshake's steps go through the pump like any transfer; the connection stays plain
  // unless it succeeds.
  const auto step = [this] {
    return transport_->Handshake() ? net::IoResult::End()
                                   : net::IoResult::Failure(net::kWsaEWouldBlock);
  };
  try {
    if (!step().Ended() && Pump(/*receiving=*/true, nullptr, Failures::Raise, step,
                                [](size_t) { return true; }) == PumpEnd::Canceled) {
      Canceled = false;
      throw EAbortError("TLS handshake aborted");
    }
  } catch (...) {
    transport_ = std::move(plain);
    throw;
  }
  timer.Stop();
}

void TAsyncSock::ShutdownTls(bool wait_for_peer) {
  // Only a transport with an end of its own (TLS) has anything to tell.
  if (!transport_ || !transport_->Shutdown() || !wait_for_peer) return;
  // What the peer sends after the handshake (session tickets, its own close_notify) must be
  // read before the socket closes: closing on unread bytes resets the connection, and a reset
  // can take the last of the file with it before the server has read it. So the sending side
  // ends, and the close waits until the peer has closed too.
  ReportStatus(kLevelTrace, "TLS Close");
  OperationScope operation(*this);
  TimerScope timer(*this);
  net::ShutdownSending(socket_.Get());
  Pump(
      /*receiving=*/true, nullptr, Failures::End,
      [this] {
        const net::IoResult result = Fill();
        received_.Clear();
        return result;
      },
      [](size_t) { return true; });
  timer.Stop();
  ThrowIfCanceled();
}

}  // namespace tarnex
