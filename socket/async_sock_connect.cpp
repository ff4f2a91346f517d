// TAsyncSock: finding the remote address, connecting, listening and accepting.
#include <arpa/inet.h>

#include <algorithm>

#include "platform/errors.h"
#include "socket/async_sock.h"
#include "socket/async_sock_scopes.h"
#include "socket/socket_errors.h"

namespace tarnex {
namespace {

constexpr const char* kLookupTimedOut = "Host Lookup Timed Out";
constexpr const char* kLookupCanceled = "Host Lookup Canceled";
constexpr const char* kLookupFailed = "Host Lookup Failed";

bool IsValidPort(int port) {
  return port >= 0 && port <= 65535;
}

}  // namespace

void TAsyncSock::ResolveHost() {
  ReportStatus(kLevelTrace, "Resolve Host");
  const std::string name = Proxy.empty() ? Host : Proxy;
  if (auto address = net::ParseDottedAddress(name)) {
    remote_.sin_addr = *address;
    return;
  }
  remote_.sin_addr.s_addr = 0;
  TimerScope timer(*this);
  EventSignalled = false;
  lookup_result_ = net::LookupResult{net::kWsaNoRecovery, {}};
  lookup_ = std::make_unique<net::HostLookup>(
      loop_, Resolver, name, [this](const net::LookupResult& result) { HandleLookupDone(result); });
  while (!EventSignalled && !TimedOut && !Canceled) loop_.WaitAndProcess(2);
  timer.Stop();
  lookup_.reset();  // a lookup given up on is abandoned; its late result is dropped
  if (TimedOut) throw ESockError(kLookupTimedOut);
  if (Canceled) throw ESockError(kLookupCanceled);
  if (lookup_result_.error != 0) throw ESockError(kLookupFailed);
  remote_.sin_addr = lookup_result_.address;
  if (OnHostResolved) OnHostResolved(*this);
}

void TAsyncSock::ResolveRemoteAddress() {
  bool retried = false;
  for (;;) {
    try {
      ResolveHost();
    } catch (const ESockError& error) {
      if (error.Message() == kLookupTimedOut || error.Message() == kLookupCanceled) throw;
      // Any other failure leaves the address at 0, which is dealt with below.
    }
    if (remote_.sin_addr.s_addr != 0) return;
    if (!retried && OnInvalidHost) {
      bool handled = false;
      OnInvalidHost(*this, handled);  // the handler may have changed Host
      if (handled) {
        retried = true;
        continue;
      }
    }
    throw ESockError("Null Remote Address");
  }
}

void TAsyncSock::Connect() {
  ReportStatus(kLevelTrace, "Connecting");
  Canceled = false;
  if (Connected) throw ESockError("Already connected");
  ResolveRemoteAddress();
  int port = Proxy.empty() ? Port : ProxyPort;
  if (!IsValidPort(port)) {
    net::SetLastSocketError(net::kWsaEInvalid);
    FailSocketCall();
  }
  EnsureSocket();
  remote_.sin_family = AF_INET;
  remote_.sin_port = htons(static_cast<uint16_t>(port));
  EventSignalled = false;
  LastEventOk = true;
  StartConnect();
  WaitForConnection();
}

void TAsyncSock::StartConnect() {
  if (net::ConnectSocket(socket_.Get(), remote_) == 0) {
    notifier_.ExpectConnect();  // connected at once: the notification says so
    return;
  }
  uint16_t code = net::LastSocketError();
  if (code == net::kWsaEWouldBlock) {
    notifier_.ExpectConnect();
  } else if (code == net::kWsaEConnRefused) {
    // A refusal is the connect's outcome, not a failing call: it arrives as the connect
    // notification, whether the system knew it at once or only later.
    notifier_.PostConnectResult(code);
  } else {
    CheckSocketError(net::kWsaEWouldBlock);
  }
}

void TAsyncSock::WaitForConnection() {
  {
    TimerScope timer(*this);
    while (!Connected && !TimedOut && !Canceled && LastEventOk) WaitForSocket(POLLOUT);
  }
  if (!TimedOut && !Canceled && LastEventOk) return;
  const char* text = TimedOut   ? "Connection Timed out"
                     : Canceled ? "Connection Canceled"
                                : "Connection Failed";
  // A socket whose connect was given up on cannot connect again (it may still be trying):
  // the next Connect starts on a fresh one.
  try {
    RenewSocket();
  } catch (const ESockError&) {
    // No socket now; the next Connect makes one.
  }
  if (OnConnectionFailed) OnConnectionFailed(*this);
  throw ESockError(text);
}

void TAsyncSock::Listen(bool use_lookup_message) {
  ReportStatus(kLevelTrace, "Listening");
  if (!IsValidPort(Port)) {
    net::SetLastSocketError(net::kWsaEInvalid);
    FailSocketCall();
  }
  EnsureSocket();
  remote_ = sockaddr_in{};
  remote_.sin_family = AF_INET;
  remote_.sin_port = htons(static_cast<uint16_t>(Port));
  remote_.sin_addr = ListenAddress;
  EventSignalled = false;
  accept_signals_ = use_lookup_message;
  int fd = socket_.Get();
  net::SetReuseAddress(fd);  // a port of an earlier transfer may still be in TIME_WAIT
  // A port that cannot be bound must fail here, not leave Accept waiting for nobody.
  if (net::BindSocket(fd, remote_) != 0) FailSocketCall();
  if (net::ListenSocket(fd, 1) != 0) FailSocketCall();
  notifier_.ExpectAccept();
}

int TAsyncSock::Accept() {
  ReportStatus(kLevelEvents, "Accepting");
  for (;;) {
    // The accept notification sets EventSignalled (lookup-message variant) or Connected.
    int quiet_waits = 0;
    while (!EventSignalled && !Connected && !Canceled) WaitForSocket(POLLIN, quiet_waits);
    if (Canceled) throw ESockError("Accepting Canceled");
    if (!LastEventOk) throw ESockError("Error creating Data Connection");
    sockaddr_in peer{};
    int fd = net::AcceptSocket(socket_.Get(), peer);
    if (fd < 0) FailSocketCall();
    if (!AcceptOnlyFrom || peer.sin_addr.s_addr == AcceptOnlyFrom->s_addr) {
      accepted_.Reset(fd);
      remote_ = peer;
      return fd;
    }
    // Somebody else got there first: that connection is closed unread, and the wait goes on
    // for the one that is expected.
    net::SocketHandle intruder(fd);
    char text[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    ReportStatus(kLevelEvents, std::string("Refused a connection from ") + text);
    EventSignalled = false;
    Connected = false;
    notifier_.ExpectAccept();
  }
}

std::optional<sockaddr_in> TAsyncSock::LocalEnd() const { return net::LocalAddress(socket_.Get()); }

std::optional<sockaddr_in> TAsyncSock::PeerEnd() const { return net::PeerAddress(socket_.Get()); }

void TAsyncSock::UseAcceptedSocket() {
  if (!accepted_.Valid()) throw ESockError("No accepted connection");
  notifier_.Detach();
  socket_ = std::move(accepted_);  // closes the listening socket
  sticky_error_ = 0;
  notifier_.Attach(socket_.Get());
  notifier_.ExpectStream();
}

void TAsyncSock::SetLinger(bool on) {
  if (net::SetLinger(socket_.Get(), on, 0) != 0) FailSocketCall();
}

std::string TAsyncSock::LocalAddressText() const {
  auto local = net::LocalAddress(socket_.Get());
  char text[INET_ADDRSTRLEN] = "0.0.0.0";
  if (local) ::inet_ntop(AF_INET, &local->sin_addr, text, sizeof text);
  std::string result(text);
  std::replace(result.begin(), result.end(), '.', ',');
  return result;
}

std::string TAsyncSock::LocalPortText() const {
  auto local = net::LocalAddress(socket_.Get());
  unsigned port = local ? ntohs(local->sin_port) : 0;
  return "," + std::to_string(port >> 8) + "," + std::to_string(port & 0xFF);
}

}  // namespace tarnex
