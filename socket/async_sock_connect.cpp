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
  candidates_.clear();
  if (ConnectAddress) {
    candidates_.push_back(*ConnectAddress);
    remote_ = *ConnectAddress;
    return;
  }
  const std::string name = Proxy.empty() ? Host : Proxy;
  if (auto address = net::ParseNumericAddress(name)) {
    // The wildcard address (0.0.0.0, ::) names no host.
    if (!net::IsAnyAddress(*address)) candidates_.push_back(*address);
    remote_ = *address;
    return;
  }
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
  if (lookup_result_.error != 0 || lookup_result_.addresses.empty()) {
    throw ESockError(kLookupFailed);
  }
  candidates_ = lookup_result_.addresses;
  remote_ = candidates_.front();
  if (OnHostResolved) OnHostResolved(*this);
}

void TAsyncSock::ResolveRemoteAddress() {
  bool retried = false;
  for (;;) {
    try {
      ResolveHost();
    } catch (const ESockError& error) {
      if (error.Message() == kLookupTimedOut || error.Message() == kLookupCanceled) throw;
      // Any other failure leaves no address, which is dealt with below.
    }
    if (!candidates_.empty()) return;
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
  if (!IsValidPort(port)) FailSocketCall(net::kWsaEInvalid);
  // The addresses of a name are tried in the order the resolver gave them; one time-out
  // bounds them all.
  TimerScope timer(*this);
  for (size_t i = 0; i < candidates_.size(); ++i) {
    remote_ = candidates_[i];
    net::SetAddressPort(remote_, static_cast<uint16_t>(port));
    EnsureSocket(remote_.ss_family);
    EventSignalled = false;
    LastEventOk = true;
    StartConnect();
    if (WaitForConnection(i + 1 < candidates_.size())) return;
  }
}

void TAsyncSock::StartConnect() {
  const uint16_t code = net::ConnectSocket(socket_.Get(), remote_);
  if (code == 0) {
    notifier_.ExpectConnect();  // connected at once: the notification says so
  } else if (code == net::kWsaEWouldBlock) {
    notifier_.ExpectConnect();
  } else if (code == net::kWsaEConnRefused) {
    // A refusal is the connect's outcome, not a failing call: it arrives as the connect
    // notification, whether the system knew it at once or only later.
    notifier_.PostConnectResult(code);
  } else {
    CheckSocketError(code, net::kWsaEWouldBlock);
  }
}

bool TAsyncSock::WaitForConnection(bool another_address_left) {
  while (!Connected && !TimedOut && !Canceled && LastEventOk) WaitForSocket(POLLOUT);
  if (!TimedOut && !Canceled && LastEventOk) return true;
  const char* text = TimedOut   ? "Connection Timed out"
                     : Canceled ? "Connection Canceled"
                                : "Connection Failed";
  // A socket whose connect was given up on cannot connect again (it may still be trying):
  // the next attempt starts on a fresh one.
  try {
    RenewSocket(family_);
  } catch (const ESockError&) {
    // No socket now; the next Connect makes one.
  }
  // A refused address gives way to the next one; a time-out or a cancel ends the attempt.
  if (another_address_left && !TimedOut && !Canceled) return false;
  if (OnConnectionFailed) OnConnectionFailed(*this);
  throw ESockError(text);
}

void TAsyncSock::Listen(bool use_lookup_message) {
  ReportStatus(kLevelTrace, "Listening");
  if (!IsValidPort(Port)) FailSocketCall(net::kWsaEInvalid);
  remote_ = ListenAddress ? *ListenAddress : net::AnyAddress(AF_INET);
  net::SetAddressPort(remote_, static_cast<uint16_t>(Port));
  EnsureSocket(remote_.ss_family);
  EventSignalled = false;
  accept_signals_ = use_lookup_message;
  int fd = socket_.Get();
  net::SetReuseAddress(fd);  // a port of an earlier transfer may still be in TIME_WAIT
  // A port that cannot be bound must fail here, not leave Accept waiting for nobody.
  FailSocketCall(net::BindSocket(fd, remote_));
  FailSocketCall(net::ListenSocket(fd, 1));
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
    net::Address peer{};
    const net::NewSocket accepted = net::AcceptSocket(socket_.Get(), peer);
    if (accepted.fd < 0) FailSocketCall(accepted.error);
    const int fd = accepted.fd;
    if (!AcceptOnlyFrom || net::SameHost(peer, *AcceptOnlyFrom)) {
      accepted_.Reset(fd);
      remote_ = peer;
      return fd;
    }
    // Somebody else got there first: that connection is closed unread, and the wait goes on
    // for the one that is expected.
    net::SocketHandle intruder(fd);
    ReportStatus(kLevelEvents, "Refused a connection from " + net::AddressText(peer));
    EventSignalled = false;
    Connected = false;
    notifier_.ExpectAccept();
  }
}

std::optional<net::Address> TAsyncSock::LocalEnd() const {
  return net::LocalAddress(socket_.Get());
}

std::optional<net::Address> TAsyncSock::PeerEnd() const {
  return net::PeerAddress(socket_.Get());
}

void TAsyncSock::UseAcceptedSocket() {
  if (!accepted_.Valid()) throw ESockError("No accepted connection");
  // The accepted connection closes as the listener would have; the listener is closed.
  UseSocket(std::move(accepted_), abortive_close_, family_);
  notifier_.ExpectStream();
}

void TAsyncSock::SetLinger(bool on) {
  FailSocketCall(net::SetLinger(socket_.Get(), on, 0));
  abortive_close_ = on;
}

void TAsyncSock::AcknowledgeAtOnce() {
  // A hint: where the system does not take it, acknowledgements come as they did, and nothing
  // else changes, so its outcome is not looked at.
  static_cast<void>(net::AcknowledgeAtOnce(socket_.Get()));
}

std::string TAsyncSock::LocalAddressText() const {
  auto local = net::LocalAddress(socket_.Get());
  std::string result = local && local->ss_family == AF_INET ? net::AddressText(*local) : "0.0.0.0";
  std::replace(result.begin(), result.end(), '.', ',');
  return result;
}

std::string TAsyncSock::LocalPortText() const {
  const unsigned port = LocalPort();
  return "," + std::to_string(port >> 8) + "," + std::to_string(port & 0xFF);
}

uint16_t TAsyncSock::LocalPort() const {
  auto local = net::LocalAddress(socket_.Get());
  return local ? net::AddressPort(*local) : 0;
}

}  // namespace tarnex
