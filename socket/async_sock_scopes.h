// Scopes shared by the operations of TAsyncSock (private to the socket layer).
#pragma once

#include "socket/async_sock.h"

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

}  // namespace tarnex
