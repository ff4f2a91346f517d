// Scopes and the I/O pump shared by the operations of TAsyncSock (private to the socket
// layer).
#pragma once

#include "socket/async_sock.h"
#include "socket/socket_errors.h"

namespace tarnex {

// Marks an operation that reads or writes the socket. While one runs, the operation itself
// sees what the peer does (data, close, reset), so a close notification is held back; it
// comes again when the last operation ends.
class TAsyncSock::OperationScope {
 public:
  explicit OperationScope(TAsyncSock& sock) : sock_(sock) { ++sock_.operations_; }
  ~OperationScope() {
    if (--sock_.operations_ == 0) sock_.notifier_.Rearm();
  }
  OperationScope(const OperationScope&) = delete;
  OperationScope& operator=(const OperationScope&) = delete;

 private:
  TAsyncSock& sock_;
};

// TimerOn for the length of a wait; the timer is off again however the wait ends, so that a
// failed operation leaves no time-out running that would cancel the next one.
class TAsyncSock::TimerScope {
 public:
  explicit TimerScope(TAsyncSock& sock) : sock_(sock) { sock_.TimerOn(); }
  ~TimerScope() {
    try {
      Stop();
    } catch (...) {
      sock_.NoteSwallowed("Timer Off");
    }
  }
  TimerScope(const TimerScope&) = delete;
  TimerScope& operator=(const TimerScope&) = delete;

  void Stop() {
    if (!running_) return;
    running_ = false;
    sock_.TimerOff();
  }

 private:
  TAsyncSock& sock_;
  bool running_ = true;
};

template <typename Call>
net::IoResult TAsyncSock::Guarded(Call call) {
  if (sticky_error_ != 0) return net::IoResult::Failure(sticky_error_);
  if (!transport_) return net::IoResult::Failure(net::kWsaEBadFile);
  const net::IoResult result = call();
  if (result.error != 0 && net::IsConnectionLost(result.error)) sticky_error_ = result.error;
  return result;
}

template <typename Step, typename Moved>
TAsyncSock::PumpEnd TAsyncSock::Pump(bool receiving, int* quiet_waits, Failures failures, Step step,
                                     Moved moved) {
  while (!Canceled) {
    const net::IoResult result = step();
    if (result.Progress()) {
      if (quiet_waits != nullptr) *quiet_waits = 0;
      if (!moved(result.count)) return PumpEnd::Done;
      continue;
    }
    if (result.Ended()) return PumpEnd::PeerEnd;
    LastError = result.error;
    if (result.error != net::kWsaEWouldBlock) {
      if (failures == Failures::End) return PumpEnd::PeerEnd;
      if (failures == Failures::NotConnectedEnds && result.error == net::kWsaENotConnected) {
        return PumpEnd::PeerEnd;
      }
      RaiseSocketError(result.error);
    }
    const short events = transport_  ? transport_->WaitEvents(receiving)
                         : receiving ? POLLIN
                                     : POLLOUT;
    if (quiet_waits != nullptr) {
      WaitForSocket(events, *quiet_waits);
    } else {
      WaitForSocket(events);
    }
  }
  return PumpEnd::Canceled;
}

}  // namespace tarnex
